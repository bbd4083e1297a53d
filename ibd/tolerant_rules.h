// The run rules of the pair scans, shared by the plain kernels and by the
// lane-by-lane replays of the vector kernels. Portable code only: the vector
// files must not include this header (their inline copies could end up as
// the ones the whole program links).
#pragma once
#include <algorithm>
#include <cstdint>

#include "ibd/pair_scan_kernels.h"

// Closes runs of one kind. A run of length r that ends at variant P covers
// variants P - r + 2 .. P - 2; it counts as a segment when longer than the threshold.
struct RunCloser {
  int32_t threshold;
  int32_t type;  // 1 for IBD1, 2 for IBD2
  int32_t* longest;
  int32_t* sum;
  int32_t* segs;
  SegmentList* segments;  // null: count only

  void close(int32_t run, int32_t position, int32_t chromosome) const {
    *longest = std::max(*longest, run);
    if (run > threshold) {
      if (segments) segments->push_back({type, chromosome, position - run + 2, position - 2});
      *sum += run;
      *segs += 1;
    }
  }
};

inline RunCloser ibd1_closer(const ScanLayout& layout, PairScanTotals& t, SegmentList* segments) {
  return {layout.ibd1_markers, 1, &t.longest1, &t.sum1, &t.segs1, segments};
}
inline RunCloser ibd2_closer(const ScanLayout& layout, PairScanTotals& t, SegmentList* segments) {
  return {layout.ibd2_markers, 2, &t.longest2, &t.sum2, &t.segs2, segments};
}

// State of the tolerant scan within a chromosome.
struct TolerantRuns {
  int32_t run1 = 0;
  int32_t run2 = 0;
  int32_t breaks = 0;   // IBS2 breaks since the IBS2 run began
  int32_t penalty = 0;  // IBS1 break debt
};

// One byte of the tolerant scan: t2 and t1 are the byte's run-table entries,
// position its first variant's index.
inline void tolerant_step(TolerantRuns& r, int32_t t2, int32_t t1, int32_t position,
                          int32_t chromosome, const RunCloser& ibd1, const RunCloser& ibd2) {
  r.run2 += t2;
  if (t2 == 2) {
    r.run1 += 2;
    if (r.penalty > 0) r.penalty -= 1;
    return;
  }
  // An IBS2 run outlives four breaks and ends at the fifth.
  if (++r.breaks > 4) {
    ibd2.close(r.run2, position, chromosome);
    r.run2 = 0;
    r.breaks = 0;
  }
  r.run1 += t1;
  // A lone IBS1 break costs 70, each further one 69, and each byte without
  // one pays 1 back; the run ends when the debt passes 231.
  if (r.penalty == 0) {
    if (t1 < 2) r.penalty = 70;
  } else if (t1 == 2) {
    r.penalty -= 1;
  } else {
    r.penalty += 69;
    if (r.penalty > 231) {
      ibd1.close(r.run1, position, chromosome);
      r.run1 = 0;
      r.penalty = 0;
    }
  }
}
