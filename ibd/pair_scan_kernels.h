// The pair scan kernels: the run arithmetic of one pair (or a batch of pairs)
// over two transposed rows, without any output. The writers in pair_scan.cpp
// turn their results into rows and segment lines.
//
// Every kernel of one mode gives the same totals and the same segments in the
// same order; the plain kernels (pair_scan_ref.cpp) are the reference that the
// vector kernels are tested against.
#pragma once
#include <cstdint>
#include <vector>

// What all scans of a run share: the chromosome ranges and the thresholds.
// Chromosome k (1 <= k < chromosome_count) covers the whole bytes
// cumulative[k - 1] / 2 up to, not including, cumulative[k] / 2.
struct ScanLayout {
  const int32_t* cumulative = nullptr;  // chromosome_count entries
  int32_t chromosome_count = 0;         // chromosomes + 1
  int32_t nvars = 0;                    // retained variants (the strict scan's range)
  int32_t ibd1_markers = 0;             // a longer IBS >= 1 run is an IBD1 segment
  int32_t ibd2_markers = 0;             // a longer IBS2 run is an IBD2 segment
};

// The layout of the current run: ChromosomeTable and IbdThresholds.
ScanLayout current_scan_layout(int32_t nvars);

// The per-pair results.
struct PairScanTotals {
  int32_t sum1 = 0;      // summed length of the IBD1 segments, in variants
  int32_t sum2 = 0;      // the same for IBD2
  int32_t segs1 = 0;     // number of IBD1 segments
  int32_t segs2 = 0;     // number of IBD2 segments
  int32_t longest1 = 0;  // longest IBS >= 1 run, segment or not
  int32_t longest2 = 0;  // longest IBS2 run
  bool operator==(const PairScanTotals&) const = default;
};

// One segment as found: first and last variant index, both inclusive.
struct IbdSegment {
  int32_t type;        // 1 for IBD1, 2 for IBD2
  int32_t chromosome;  // number of the chromosome scanned, from 1
  int32_t start;
  int32_t end;
  bool operator==(const IbdSegment&) const = default;
};
using SegmentList = std::vector<IbdSegment>;

// Plain kernels, one byte (two variants) and two table look-ups per step.
// Segments are appended to *segments in the order found, when segments is not null.
PairScanTotals scan_tolerant_ref(const uint8_t* row_a, const uint8_t* row_b,
                                 const ScanLayout& layout, SegmentList* segments);
PairScanTotals scan_merging_ref(const uint8_t* row_a, const uint8_t* row_b,
                                const ScanLayout& layout, SegmentList* segments);
// Ignores the chromosomes: runs go on over bytes 0 .. nvars / 2 - 1. No segments.
PairScanTotals scan_strict_ref(const uint8_t* row_a, const uint8_t* row_b,
                               const ScanLayout& layout);

// A tolerant scan of n pairs (rows_a[i], rows_b[i]), 1 <= n <= kMaxBatchPairs:
// totals[i] gets pair i's results and, when segments is not null, segments[i]
// gets pair i's segments appended in the order found.
constexpr int32_t kMaxBatchPairs = 64;
using TolerantBatchScan = void (*)(const uint8_t* const* rows_a, const uint8_t* const* rows_b,
                                   int32_t n, const ScanLayout& layout, PairScanTotals* totals,
                                   SegmentList* segments);

void scan_tolerant_batch_ref(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t n,
                             const ScanLayout& layout, PairScanTotals* totals,
                             SegmentList* segments);
// Vector kernels: call them only when scan_kernel_supported says so.
void scan_tolerant_batch_avx2(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t n,
                              const ScanLayout& layout, PairScanTotals* totals,
                              SegmentList* segments);
void scan_tolerant_batch_avx512(const uint8_t* const* rows_a, const uint8_t* const* rows_b,
                                int32_t n, const ScanLayout& layout, PairScanTotals* totals,
                                SegmentList* segments);

// The run-time choice of the tolerant batch kernel: the widest instruction
// set the processor offers, unless a test has forced one.
enum class ScanKernel { reference, avx2, avx512 };
bool scan_kernel_supported(ScanKernel kernel);
const char* scan_kernel_name(ScanKernel kernel);
ScanKernel best_scan_kernel();
TolerantBatchScan tolerant_batch_kernel(ScanKernel kernel);
// The kernel that scan_pairs uses now for a tolerant batch of 4 pairs or more
// (smaller batches take the plain kernel).
ScanKernel active_scan_kernel();
// Test hook: makes scan_pairs use `kernel` (which must be supported) until
// reset_scan_kernel. Call it only while no pair worker runs.
void force_scan_kernel(ScanKernel kernel);
void reset_scan_kernel();
