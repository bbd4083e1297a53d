// The transposed genotype matrix (one row per sample, for the pair scans)
// and the header lines of the two report files.
#include "ibd/transposed_matrix.h"
#include "setup/run_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "ibd/analysis_driver.h"
#include "input/genotype_store.h"

namespace GenotypeMatrixTransposed {
uint8_t* data = nullptr;
uint8_t** rows = nullptr;
int32_t nvars = 0;
int32_t npeople = 0;
}  // namespace GenotypeMatrixTransposed

namespace {

constexpr const char* kPhase = "[*] ";
constexpr int32_t kTile = 64;  // square tiles keep both sides of the copy in cache

// Reports a failed allocation of the transposed matrix and ends the process.
// errno is kept across the prints so that both perror lines name the cause.
[[noreturn]] void fail_transposed_allocation(const char* what, int32_t mb) {
  const int cause = errno;
  printf("\n\nError allocating %d MB of memory %s\n", mb, what);
  fflush(stdout);
  errno = cause;
  perror("malloc");
  printf("Error allocating %d MB of memory\n", mb);
  fflush(stdout);
  errno = cause;
  perror("malloc");
  exit(1);
}

}  // namespace

int32_t transposed_matrix_megabytes(int32_t npeople, int32_t nvars) {
  return static_cast<int32_t>((static_cast<int64_t>(npeople) * nvars) >> 20);
}

void build_transposed_matrix(const timeval& start) {
  namespace T = GenotypeMatrixTransposed;
  printf("\n%s Starting IBD segment loop\n", kPhase);
  T::npeople = SampleNames::count + 1;
  T::nvars = GenotypeMatrix::nvars;
  printf("%s Allocation genotype vector transposed npeople=%d nvars=%d\n", kDetail, T::npeople,
         T::nvars);
  const int32_t mb = transposed_matrix_megabytes(T::npeople, T::nvars);
  printf("%s GenotypeMatrixTransposed: allocating %d MB of memory\n", kDetail, mb);

  const int64_t npeople = std::max(T::npeople, 0);
  const int64_t nvars = std::max(T::nvars, 0);
  const size_t bytes = static_cast<size_t>(npeople * nvars);
  T::data = static_cast<uint8_t*>(malloc(std::max<size_t>(bytes, 1)));
  if (!T::data) fail_transposed_allocation("(gmt2)", mb);
  const size_t row_pointer_bytes = static_cast<size_t>(npeople) * sizeof(uint8_t*);
  T::rows = static_cast<uint8_t**>(malloc(std::max<size_t>(row_pointer_bytes, 1)));
  if (!T::rows) {
    const int64_t rounded_up = (static_cast<int64_t>(row_pointer_bytes) + (1 << 20) - 1) >> 20;
    fail_transposed_allocation("(gmt2 rows)", static_cast<int32_t>(rounded_up));
  }
  for (int64_t i = 0; i < npeople; ++i) T::rows[i] = T::data + i * nvars;

  // rows[i][v] = byte i of matrix row v, tile by tile.
  for (int64_t v0 = 0; v0 < nvars; v0 += kTile) {
    const int64_t v1 = std::min(v0 + kTile, nvars);
    for (int64_t i0 = 0; i0 < npeople; i0 += kTile) {
      const int64_t i1 = std::min(i0 + kTile, npeople);
      for (int64_t i = i0; i < i1; ++i) {
        uint8_t* out = T::rows[i];
        for (int64_t v = v0; v < v1; ++v) out[v] = GenotypeMatrix::rows[v][i];
      }
    }
  }

  printf("\n\n%s Genotype pre-processing duration:  %.2f ms \n\n", kPhase, elapsed_ms(start));
}

int format_ibd_header(char* line, size_t size) {
  return snprintf(line, size, "%18s %18s %8s %8s %12s %15s %10s %9s %15s %10s %9s\n", "ID1", "ID2",
                  "NMARK", "NCOMMON", "IBD0", "IBD1_MAX", "IBD1_NSEGS", "IBD1", "IBD2_MAX",
                  "IBD2_NSEGS", "IBD2");
}

int format_segments_header(char* line, size_t size) {
  return snprintf(line, size, "TYPE  %15s %15s %6s %7s %8s %16s Mbp %11s Mbp  %10s\n", "ID1", "ID2",
                  "CHROM", " VARSTART", "VAREND", "POS", "LENGTH", "NMARKERS");
}
