// Lane book-keeping of the vector tolerant kernels, in portable code.
#include "ibd/pair_scan_lanes.h"

#include "ibd/tolerant_rules.h"

void replay_lane(const uint8_t* codes, int32_t stride, int32_t lane, int32_t steps,
                 int32_t first_byte, int32_t chromosome, const LaneStart& start,
                 const ScanLayout& layout, PairScanTotals* totals, SegmentList* segments) {
  const RunCloser ibd1 = ibd1_closer(layout, *totals, segments);
  const RunCloser ibd2 = ibd2_closer(layout, *totals, segments);
  TolerantRuns runs{start.run1, start.run2, start.breaks, start.penalty};
  for (int32_t s = 0; s < steps; ++s) {
    const int32_t code = codes[s * stride + lane];
    tolerant_step(runs, code & 3, code >> kStepCodeT1Shift, 2 * (first_byte + s), chromosome, ibd1,
                  ibd2);
  }
}

void close_lane_runs(int32_t run1, int32_t run2, int32_t end_byte, int32_t chromosome,
                     const ScanLayout& layout, PairScanTotals* totals, SegmentList* segments) {
  ibd1_closer(layout, *totals, segments).close(run1, 2 * end_byte, chromosome);
  ibd2_closer(layout, *totals, segments).close(run2, 2 * end_byte, chromosome);
}

void chromosome_bytes(const ScanLayout& layout, int32_t k, int32_t* first, int32_t* end) {
  *first = layout.cumulative[k - 1] / 2;
  *end = layout.cumulative[k] / 2;
}
