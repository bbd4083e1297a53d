// The genotype store: filled by the VCF reader on slot 1 while the input is
// read, read-only afterwards.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

// Samples of the input in column order; a sample's index here is its index everywhere.
namespace SampleNames {
extern char** names;   // entry s: column 10 + s of the column-header line
extern char* header;   // private copy of the split header line; owns the names
extern int32_t count;  // samples; -1 until the column-header line is read
}  // namespace SampleNames

// Packed genotypes: row r, byte s holds sample s's codes of retained variants
// 2r (bits 3-2) and 2r + 1 (bits 1-0); an odd last variant sits alone in bits
// 1-0. Codes: 0, 1, 2 alternative alleles, 3 missing.
namespace GenotypeMatrix {
extern uint8_t* data;     // capacity * npeople bytes, page-aligned, zero-filled
extern uint8_t** rows;    // rows[r] = data + r * npeople
extern int32_t nvars;     // equals capacity while reading; retained variants afterwards
extern int32_t npeople;   // row width: SampleNames::count + 16
extern int32_t capacity;  // rows allocated: --nvar, doubled by each growth
void allocate();          // for the current SampleNames::count and --nvar; prints two lines
void grow();              // doubles capacity, copying the rows in use; prints two lines
}  // namespace GenotypeMatrix

// Prints "Error allocating %d MB of memory\n" on standard output and exits with status 1.
[[noreturn]] void fail_allocation(int64_t bytes);

template <typename T>
struct GrowableArray {
  T* data = nullptr;
  int32_t capacity = 0;
  int32_t count = 0;

  // Grows first when count + 1 would reach capacity: to 4096 elements while
  // capacity is below 1024, else fourfold.
  void append(const T& value);
  // Replaces the block by a fresh one of n elements, count 0.
  void reset(int32_t n);
};

struct VariantRecord {
  int32_t pos;    // POS in base pairs
  char chrom[8];  // first 7 characters of CHROM, NUL-terminated
};

extern GrowableArray<VariantRecord> variant_records;
extern GrowableArray<float> allele_freqs;  // minor-allele frequency per retained variant

// Chromosomes in order of appearance: runs of consecutive retained variants
// with the same stored name. Entry 0 is never a chromosome; entry k covers
// variants cumulative[k - 1] .. cumulative[k] - 1.
namespace ChromosomeTable {
extern int32_t count;  // chromosomes so far; after the input chromosomes + 1, or 0 if none
extern std::vector<int32_t>& cumulative;  // 256 entries, grown for more chromosomes
extern std::vector<int32_t>& markers;
// Closes chromosome k with its marker count: markers[k] = n and
// cumulative[k] = cumulative[k - 1] + n, growing both tables when k is past them.
void close_entry(int32_t k, int32_t n);
}  // namespace ChromosomeTable

extern std::atomic<int32_t> variants_read;  // lines taken from the queue, header lines included
extern std::atomic<int32_t> variants_kept;  // variants retained so far

// Returns the whole store to its state before the reader starts: matrix and
// arrays released, SampleNames::count -1, the table and both counters at 0.
// The reader runs once per process, so only tests call this.
void reset_genotype_store();

// Allele character -> 0 ("0"), 1 ("1" to "3") or 16 (anything else).
extern const int8_t genotype_code_table[256];
