// The plain pair scan kernels: one byte of each row per step, two table
// look-ups, no call, allocation or division per byte.
#include "ibd/pair_scan.h"
#include "ibd/pair_scan_kernels.h"
#include "ibd/tolerant_rules.h"

namespace {

inline int32_t pair_index(const uint8_t* row_a, const uint8_t* row_b, int32_t v) {
  return (row_a[v] << 4) + row_b[v];
}

}  // namespace

PairScanTotals scan_tolerant_ref(const uint8_t* row_a, const uint8_t* row_b,
                                 const ScanLayout& layout, SegmentList* segments) {
  PairScanTotals t;
  const RunCloser ibd1 = ibd1_closer(layout, t, segments);
  const RunCloser ibd2 = ibd2_closer(layout, t, segments);
  for (int32_t k = 1; k < layout.chromosome_count; ++k) {
    const int32_t s = layout.cumulative[k - 1] / 2;
    const int32_t e = layout.cumulative[k] / 2;
    TolerantRuns runs;
    for (int32_t v = s; v < e; ++v) {
      const int32_t index = pair_index(row_a, row_b, v);
      tolerant_step(runs, ibs2_run_table[index], ibs1_run_table[index], 2 * v, k, ibd1, ibd2);
    }
    ibd1.close(runs.run1, 2 * e, k);
    ibd2.close(runs.run2, 2 * e, k);
  }
  return t;
}

PairScanTotals scan_merging_ref(const uint8_t* row_a, const uint8_t* row_b,
                                const ScanLayout& layout, SegmentList* segments) {
  PairScanTotals t;
  const RunCloser ibd1 = ibd1_closer(layout, t, segments);
  const RunCloser ibd2 = ibd2_closer(layout, t, segments);
  const int32_t t2_half = layout.ibd2_markers / 2;
  const int32_t t2_quarter = layout.ibd2_markers / 4;
  for (int32_t k = 1; k < layout.chromosome_count; ++k) {
    const int32_t s = layout.cumulative[k - 1] / 2;
    const int32_t e = layout.cumulative[k] / 2;
    int32_t run1 = 0, run2 = 0, saved2 = 0;
    for (int32_t v = s; v < e; ++v) {
      const int32_t index = pair_index(row_a, row_b, v);
      const int32_t t2 = ibs2_run_table[index];
      const int32_t t1 = ibs1_run_table[index];
      run2 += t2;
      if (t2 == 2) {
        run1 += 2;
        continue;
      }
      t.longest2 = std::max(t.longest2, run2);
      // Two IBS2 runs one break apart join when both are long enough; the
      // break counts as one variant.
      if (saved2 > t2_quarter && (run2 > t2_half || (run2 > t2_quarter && saved2 > t2_half))) {
        run2 = saved2 + run2 + 1;
        saved2 = 0;
      } else if (run2 > layout.ibd2_markers) {
        ibd2.close(run2, 2 * v, k);
        saved2 = 0;
        run2 = 0;
      } else {
        saved2 = run2;
        run2 = 0;
      }
      run1 += t1;
      // IBS1 runs end at every break, whatever the threshold (also a negative one).
      if (t1 < 2) {
        ibd1.close(run1, 2 * v, k);
        run1 = 0;
      }
    }
    ibd1.close(run1, 2 * e, k);
    ibd2.close(run2, 2 * e, k);
  }
  return t;
}

PairScanTotals scan_strict_ref(const uint8_t* row_a, const uint8_t* row_b,
                               const ScanLayout& layout) {
  PairScanTotals t;
  const RunCloser ibd1 = ibd1_closer(layout, t, nullptr);
  const RunCloser ibd2 = ibd2_closer(layout, t, nullptr);
  int32_t run1 = 0, run2 = 0;
  const int32_t bytes = layout.nvars / 2;
  for (int32_t v = 0; v < bytes; ++v) {
    const int32_t index = pair_index(row_a, row_b, v);
    const int32_t t2 = ibs2_run_table[index];
    const int32_t t1 = ibs1_run_table[index];
    run1 += t1;
    if (t1 < 2) {
      ibd1.close(run1, 2 * v, 0);
      run1 = 0;
    }
    run2 += t2;
    if (t2 < 2) {
      ibd2.close(run2, 2 * v, 0);
      run2 = 0;
    }
  }
  ibd1.close(run1, 2 * bytes, 0);
  ibd2.close(run2, 2 * bytes, 0);
  return t;
}

void scan_tolerant_batch_ref(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t n,
                             const ScanLayout& layout, PairScanTotals* totals,
                             SegmentList* segments) {
  for (int32_t i = 0; i < n; ++i)
    totals[i] = scan_tolerant_ref(rows_a[i], rows_b[i], layout, segments ? &segments[i] : nullptr);
}
