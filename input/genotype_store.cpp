// The genotype store's globals and its allocation and growth.
#include "input/genotype_store.h"
#include "setup/run_messages.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "setup/run_settings.h"

namespace SampleNames {
char** names = nullptr;
char* header = nullptr;
int32_t count = -1;
}  // namespace SampleNames

void fail_allocation(int64_t bytes) {
  printf("Error allocating %d MB of memory\n", static_cast<int>(bytes >> 20));
  exit(1);
}

namespace GenotypeMatrix {
uint8_t* data = nullptr;
uint8_t** rows = nullptr;
int32_t nvars = 0;
int32_t npeople = 0;
int32_t capacity = 0;

namespace {
// Anonymous mappings are page-aligned and read as zero until written, so a
// large capacity costs nothing until its rows are used.
uint8_t* map_zeroed_block(int64_t size) {
  void* block = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) fail_allocation(size);
  return static_cast<uint8_t*>(block);
}

uint8_t** build_row_table(uint8_t* block, int32_t row_count) {
  int64_t size = static_cast<int64_t>(row_count) * static_cast<int64_t>(sizeof(uint8_t*));
  uint8_t** table = static_cast<uint8_t**>(malloc(static_cast<size_t>(size)));
  if (table == nullptr) fail_allocation(size);
  for (int32_t r = 0; r < row_count; ++r) table[r] = block + static_cast<int64_t>(r) * npeople;
  return table;
}

int64_t block_size(int32_t row_count) { return static_cast<int64_t>(npeople) * row_count; }

void print_allocation(int32_t row_count) {
  printf("%s Allocation genotype vector  npeople=%d nvars=%d\n", kDetail, npeople, row_count);
  printf("%s GenotypeMatrix: allocating %d MB of memory\n", kDetail,
         static_cast<int>(block_size(row_count) >> 20));
}

void release() {
  if (data != nullptr) munmap(data, static_cast<size_t>(block_size(capacity)));
  free(rows);
  data = nullptr;
  rows = nullptr;
}
}  // namespace

void allocate() {
  release();
  npeople = SampleNames::count + 16;
  const int32_t row_count = RunSettings::variant_capacity;  // at least 1: the option refuses less
  print_allocation(row_count);
  capacity = nvars = row_count;
  data = map_zeroed_block(block_size(row_count));
  rows = build_row_table(data, row_count);
}

void grow() {
  int64_t wanted = 2 * static_cast<int64_t>(capacity);
  if (wanted > INT32_MAX) fail_allocation(static_cast<int64_t>(npeople) * wanted);
  int32_t row_count = static_cast<int32_t>(wanted);
  print_allocation(row_count);
  uint8_t* block = map_zeroed_block(block_size(row_count));
  // Growth comes when the retained variants fill as many rows as there are,
  // and a row holds two: only the first half of the rows is in use. Copying
  // the empty rest would only turn fresh zero pages into resident ones.
  memcpy(block, data, static_cast<size_t>(block_size((capacity + 1) / 2)));
  uint8_t** table = build_row_table(block, row_count);
  release();
  data = block;
  rows = table;
  capacity = nvars = row_count;
}
}  // namespace GenotypeMatrix

template <typename T>
void GrowableArray<T>::append(const T& value) {
  if (count + 1 >= capacity) {
    int64_t grown = capacity <= 1023 ? 4096 : 4 * static_cast<int64_t>(capacity);
    int64_t bytes = grown * static_cast<int64_t>(sizeof(T));
    if (grown > INT32_MAX) fail_allocation(bytes);
    T* block = static_cast<T*>(malloc(static_cast<size_t>(bytes)));
    if (block == nullptr) fail_allocation(bytes);
    if (capacity > 0) {
      memcpy(block, data, sizeof(T) * static_cast<size_t>(count));
      free(data);
    }
    data = block;
    capacity = static_cast<int32_t>(grown);
  }
  data[count] = value;
  ++count;
}

template <typename T>
void GrowableArray<T>::reset(int32_t n) {
  int64_t bytes = static_cast<int64_t>(n) * static_cast<int64_t>(sizeof(T));
  T* block = nullptr;
  if (n > 0) {
    block = static_cast<T*>(malloc(static_cast<size_t>(bytes)));
    if (block == nullptr) fail_allocation(bytes);
  }
  free(data);
  data = block;
  capacity = n;
  count = 0;
}

template struct GrowableArray<float>;
template struct GrowableArray<VariantRecord>;

namespace ChromosomeTable {
int32_t count = 0;
// Never destroyed: an input error ends the process from the main thread while
// the reader may still be closing chromosomes of queued lines.
std::vector<int32_t>& cumulative = *new std::vector<int32_t>(256, 0);
std::vector<int32_t>& markers = *new std::vector<int32_t>(256, 0);

void close_entry(int32_t k, int32_t n) {
  if (k >= static_cast<int32_t>(cumulative.size())) {
    size_t size = std::max(2 * cumulative.size(), static_cast<size_t>(k) + 1);
    cumulative.resize(size, 0);
    markers.resize(size, 0);
  }
  markers[k] = n;
  cumulative[k] = cumulative[k - 1] + n;
}
}  // namespace ChromosomeTable

std::atomic<int32_t> variants_read{0};
std::atomic<int32_t> variants_kept{0};

void reset_genotype_store() {
  free(SampleNames::names);
  free(SampleNames::header);
  SampleNames::names = nullptr;
  SampleNames::header = nullptr;
  SampleNames::count = -1;
  GenotypeMatrix::release();
  GenotypeMatrix::nvars = GenotypeMatrix::npeople = GenotypeMatrix::capacity = 0;
  variant_records.reset(0);
  allele_freqs.reset(0);
  ChromosomeTable::count = 0;
  ChromosomeTable::cumulative.assign(256, 0);
  ChromosomeTable::markers.assign(256, 0);
  variants_read.store(0, std::memory_order_release);
  variants_kept.store(0, std::memory_order_release);
}

// Every byte is 16 (not an allele) except "0" (0) and "1" to "3" (1).
#define NOT_ALLELE_X16 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16
const int8_t genotype_code_table[256] = {
    NOT_ALLELE_X16, NOT_ALLELE_X16, NOT_ALLELE_X16,                  // 0x00-0x2f
    0, 1, 1, 1, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16,      // "0" to "?"
    NOT_ALLELE_X16, NOT_ALLELE_X16, NOT_ALLELE_X16, NOT_ALLELE_X16,  // 0x40-0x7f
    NOT_ALLELE_X16, NOT_ALLELE_X16, NOT_ALLELE_X16, NOT_ALLELE_X16,  // 0x80-0xbf
    NOT_ALLELE_X16, NOT_ALLELE_X16, NOT_ALLELE_X16, NOT_ALLELE_X16,  // 0xc0-0xff
};
#undef NOT_ALLELE_X16
