// The chunk loop of the vector tolerant kernels, written once over an
// instruction-set type. Include it only from a vector kernel file, after that
// type: everything here has internal linkage, so each file compiles its own
// copy for its own instruction set and nothing of it is shared at link time.
//
// The scheme: for each chunk of up to Isa::kChunk bytes, every lane's step
// codes are computed from its two rows and transposed, so that one vector
// holds one byte of every lane; the break, penalty and run updates then run
// on all lanes without a branch. Run lengths grow as byte deltas within the
// chunk (at most 2 per byte) and are folded into 32-bit run lengths at its
// end. A lane whose closings in the chunk passed a threshold (rare) is
// replayed alone with the exact rules to record its segments; the runs left
// open at a chromosome's end are closed lane by lane.
//
// What Isa provides:
//   kLanes, kChunk            lanes per group, steps per chunk (2 * kChunk < 256)
//   LaneMask                  an unsigned integer with a bit per lane
//   Tables                    constants, built once per group
//   build_chunk(rows_a, rows_b, first, steps, tables, codes)
//                             codes[s * kLanes + lane] for the chunk's steps
//   Deltas                    byte deltas of one kind of run over a chunk
//   Counters                  breaks and penalties: clear(), store(breaks, penalty),
//                             step(codes of one step, run1 deltas, run2 deltas)
//   Lengths                   32-bit run lengths: clear_base(), clear_longest(),
//                             store_base(out), store_longest(out),
//                             fold(deltas, threshold) -> lanes with a closing above it
#pragma once
#include <cstdint>

#include "ibd/pair_scan_kernels.h"
#include "ibd/pair_scan_lanes.h"

namespace {

template <class Isa>
void scan_lane_group(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t lanes,
                     const ScanLayout& layout, PairScanTotals* totals, SegmentList* segments) {
  constexpr int kLanes = Isa::kLanes;
  using LaneMask = typename Isa::LaneMask;
  // Lanes past `lanes` repeat lane 0; their results are ignored.
  const uint8_t* group_a[kLanes];
  const uint8_t* group_b[kLanes];
  for (int lane = 0; lane < kLanes; ++lane) {
    group_a[lane] = rows_a[lane < lanes ? lane : 0];
    group_b[lane] = rows_b[lane < lanes ? lane : 0];
  }
  for (int lane = 0; lane < lanes; ++lane) totals[lane] = PairScanTotals{};
  const LaneMask valid = lanes == kLanes ? ~LaneMask{0} : (LaneMask{1} << lanes) - 1;
  const typename Isa::Tables tables;

  typename Isa::Lengths ibs1, ibs2;
  ibs1.clear_longest();
  ibs2.clear_longest();
  alignas(64) uint8_t codes[Isa::kChunk * kLanes];
  alignas(64) int32_t start_run1[kLanes], start_run2[kLanes];
  alignas(64) uint8_t start_breaks[kLanes], start_penalty[kLanes];

  for (int32_t k = 1; k < layout.chromosome_count; ++k) {
    int32_t first, end;
    chromosome_bytes(layout, k, &first, &end);
    typename Isa::Counters counters;
    counters.clear();
    ibs1.clear_base();
    ibs2.clear_base();
    for (int32_t v0 = first; v0 < end; v0 += Isa::kChunk) {
      const int32_t steps = end - v0 < Isa::kChunk ? end - v0 : Isa::kChunk;
      Isa::build_chunk(group_a, group_b, v0, steps, tables, codes);
      ibs1.store_base(start_run1);
      ibs2.store_base(start_run2);
      counters.store(start_breaks, start_penalty);

      typename Isa::Deltas run1, run2;
      for (int32_t st = 0; st < steps; ++st) counters.step(codes + st * kLanes, run1, run2);

      const LaneMask passed =
          (ibs1.fold(run1, layout.ibd1_markers) | ibs2.fold(run2, layout.ibd2_markers)) & valid;
      for (LaneMask rest = passed; rest; rest &= rest - 1) {
        const int lane = __builtin_ctzll(rest);
        const LaneStart start{start_run1[lane], start_run2[lane], start_breaks[lane],
                              start_penalty[lane]};
        replay_lane(codes, kLanes, lane, steps, v0, k, start, layout, &totals[lane],
                    segments ? &segments[lane] : nullptr);
      }
    }
    alignas(64) int32_t run1_end[kLanes], run2_end[kLanes];
    ibs1.store_base(run1_end);
    ibs2.store_base(run2_end);
    for (int lane = 0; lane < lanes; ++lane)
      close_lane_runs(run1_end[lane], run2_end[lane], end, k, layout, &totals[lane],
                      segments ? &segments[lane] : nullptr);
  }

  alignas(64) int32_t longest1[kLanes], longest2[kLanes];
  ibs1.store_longest(longest1);
  ibs2.store_longest(longest2);
  for (int lane = 0; lane < lanes; ++lane) {
    if (longest1[lane] > totals[lane].longest1) totals[lane].longest1 = longest1[lane];
    if (longest2[lane] > totals[lane].longest2) totals[lane].longest2 = longest2[lane];
  }
}

// Scans n pairs in groups of Isa::kLanes.
template <class Isa>
void scan_lane_groups(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t n,
                      const ScanLayout& layout, PairScanTotals* totals, SegmentList* segments) {
  for (int32_t first = 0; first < n; first += Isa::kLanes) {
    const int32_t lanes = n - first < Isa::kLanes ? n - first : Isa::kLanes;
    scan_lane_group<Isa>(rows_a + first, rows_b + first, lanes, layout, totals + first,
                         segments ? segments + first : nullptr);
  }
}

}  // namespace
