// The pair scans as the pair worker sees them: run a kernel, then write the
// pair's segment lines and its .ibd row.
#include "ibd/pair_scan.h"

#include <algorithm>
#include <array>

#include "ibd/ibs_thresholds.h"
#include "ibd/output_buffer.h"
#include "ibd/pair_scan_kernels.h"
#include "ibd/transposed_matrix.h"
#include "input/genotype_store.h"
#include "setup/run_settings.h"

namespace {

constexpr char kTolerantRow[] = "%18s %18s %8d %8d %12.6f %15d %10.0f %9.6f %15d %10.0f %9.6f\n";
// The merging and strict scans add two columns that hold no measure: "NA".
constexpr char kTwoExtraColumnsRow[] =
    "%18s %18s %8d %8d %12.6f %15d %10.0f %9.6f %15d %10.0f %9.6f %12s %7s\n";

// Below this many pairs a batch goes to the plain kernel: a vector kernel
// scans a whole group of lanes whatever the number of pairs in it.
constexpr int32_t kMinVectorBatch = 4;

enum class RowShape { tolerant, two_extra_columns };

static_assert(kPairBatch <= kMaxBatchPairs, "a batch of pairs fits one kernel call");

// Segment lists reused from pair to pair, so that scanning allocates only
// while a list grows.
thread_local std::array<SegmentList, kPairBatch> batch_segments;

void write_segments(PairScanContext* context, int32_t a, int32_t b, const SegmentList& segments) {
  for (const IbdSegment& s : segments) {
    context->chromosome = s.chromosome;
    write_segment(context, s.type, a, b, s.start, s.end);
  }
}

void write_row(PairScanContext* context, int32_t nvars, int32_t a, int32_t b,
               const PairScanTotals& t, RowShape shape) {
  const double ibd2 = static_cast<double>(t.sum2) / nvars;
  const double ibd1 = std::max(static_cast<double>(t.sum1) / nvars - ibd2, 0.0);
  const double ibd0 = 1.0 - ibd2 - ibd1;
  if (!(ibd1 + ibd2 >= RunSettings::report_threshold)) return;
  const char* name_a = SampleNames::names[a];
  const char* name_b = SampleNames::names[b];
  if (shape == RowShape::tolerant) {
    context->row_buffer->add_row(kTolerantRow, name_a, name_b, nvars, 0, ibd0, t.longest1,
                                 static_cast<double>(t.segs1), ibd1, t.longest2,
                                 static_cast<double>(t.segs2), ibd2);
  } else {
    context->row_buffer->add_row(kTwoExtraColumnsRow, name_a, name_b, nvars, 0, ibd0, t.longest1,
                                 static_cast<double>(t.segs1), ibd1, t.longest2,
                                 static_cast<double>(t.segs2), ibd2, "NA", "NA");
  }
}

// The chromosome number a chromosome-wise scan ends on.
int32_t last_chromosome(const ScanLayout& layout) { return std::max(layout.chromosome_count, 1); }

void report_tolerant(PairScanContext* context, const ScanLayout& layout, int32_t a, int32_t b,
                     const PairScanTotals& t, const SegmentList* segments) {
  context->ncommon = 0;
  context->count_x = 0;
  context->count_y = 0;
  if (segments) write_segments(context, a, b, *segments);
  context->chromosome = last_chromosome(layout);
  context->longest_ibs1 = t.longest1;
  context->longest_ibs2 = t.longest2;
  write_row(context, layout.nvars, a, b, t, RowShape::tolerant);
}

SegmentList* fresh_pair_segments() {
  if (RunSettings::report_segments <= 0) return nullptr;
  batch_segments[0].clear();
  return &batch_segments[0];
}

}  // namespace

ScanLayout current_scan_layout(int32_t nvars) {
  ScanLayout layout;
  layout.cumulative = ChromosomeTable::cumulative.data();
  layout.chromosome_count = std::min<int32_t>(
      ChromosomeTable::count, static_cast<int32_t>(ChromosomeTable::cumulative.size()));
  layout.nvars = nvars;
  layout.ibd1_markers = IbdThresholds::ibd1_markers;
  layout.ibd2_markers = IbdThresholds::ibd2_markers;
  return layout;
}

void scan_pair(PairScanContext* context, int32_t nvars, int32_t a, int32_t b) {
  if (RunSettings::scan_mode == 2) {
    scan_pairs(context, nvars, &a, &b, 1);
    return;
  }
  if (RunSettings::scan_mode == 1) {
    scan_pair_merging(context, nvars, a, b);
    return;
  }
  const PairScanTotals t =
      scan_strict_ref(GenotypeMatrixTransposed::rows[a], GenotypeMatrixTransposed::rows[b],
                      current_scan_layout(nvars));
  write_row(context, nvars, a, b, t, RowShape::two_extra_columns);
}

void scan_pair_merging(PairScanContext* context, int32_t nvars, int32_t a, int32_t b) {
  const ScanLayout layout = current_scan_layout(nvars);
  SegmentList* segments = fresh_pair_segments();
  const PairScanTotals t = scan_merging_ref(GenotypeMatrixTransposed::rows[a],
                                            GenotypeMatrixTransposed::rows[b], layout, segments);
  if (segments) write_segments(context, a, b, *segments);
  context->chromosome = last_chromosome(layout);
  write_row(context, nvars, a, b, t, RowShape::two_extra_columns);
}

void scan_pairs(PairScanContext* context, int32_t nvars, const int32_t* a, const int32_t* b,
                int32_t n) {
  if (RunSettings::scan_mode != 2) {
    for (int32_t i = 0; i < n; ++i) scan_pair(context, nvars, a[i], b[i]);
    return;
  }
  const ScanLayout layout = current_scan_layout(nvars);
  const bool keep_segments = RunSettings::report_segments > 0;
  const uint8_t* rows_a[kPairBatch] = {};
  const uint8_t* rows_b[kPairBatch] = {};
  PairScanTotals totals[kPairBatch];
  for (int32_t i = 0; i < n; ++i) {
    rows_a[i] = GenotypeMatrixTransposed::rows[a[i]];
    rows_b[i] = GenotypeMatrixTransposed::rows[b[i]];
    if (keep_segments) batch_segments[i].clear();
  }
  const TolerantBatchScan kernel =
      n < kMinVectorBatch ? scan_tolerant_batch_ref : tolerant_batch_kernel(active_scan_kernel());
  kernel(rows_a, rows_b, n, layout, totals, keep_segments ? batch_segments.data() : nullptr);
  for (int32_t i = 0; i < n; ++i)
    report_tolerant(context, layout, a[i], b[i], totals[i],
                    keep_segments ? &batch_segments[i] : nullptr);
}
