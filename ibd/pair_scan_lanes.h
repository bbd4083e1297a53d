// What the vector tolerant kernels share: the step codes they compute for
// every byte pair, and the lane book-keeping they leave to portable code.
//
// The vector files call only the out-of-line functions declared here and
// emit no inline function or template with external linkage, so that nothing
// compiled for a wider instruction set can stand in for the portable copy at
// link time.
#pragma once
#include <cstdint>

#include "ibd/pair_scan_kernels.h"

// A step code holds the two run-table entries of one byte pair:
// t2 in bits 1-0 and t1 in bits 3-2. IBS2 implies IBS >= 1, so t1 < 2 exactly
// when the code is below 8, and t2 = 2 only in the code 10.
constexpr int32_t kStepCodeT1Shift = 2;

// The step code of bytes A and B (0..15) in five 16-entry look-ups:
//   S = kStepSumA[A] + kStepSumB[B] holds a sum per variant, the first
//   variant's in the high nibble and the second's in the low one; each sum
//   tells the variant's class (0 IBS2, 1 IBS1 only, 2 neither);
//   code = kStepCode[kFirstClass[S >> 4] | kSecondClass[S]].
// A first-variant sum of 8 sets bit 7 of S, where a byte shuffle yields 0
// instead of kSecondClass[S & 15]; 8 means "neither", whose code is 0 whatever
// the second variant is.
constexpr uint8_t kStepSumA[16] = {0, 1, 4, 2, 16, 17, 20, 18, 64, 65, 68, 66, 32, 33, 36, 34};
constexpr uint8_t kStepSumB[16] = {68, 65, 64, 66, 20, 17, 16, 18, 4, 1, 0, 2, 36, 33, 32, 34};
constexpr uint8_t kSecondClass[16] = {2, 1, 0, 0, 0, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kFirstClass[16] = {8, 4, 0, 0, 0, 4, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kStepCode[16] = {10, 9, 5, 0, 8, 8, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// A lane's tolerant-scan state at the start of a chunk of steps.
struct LaneStart {
  int32_t run1;
  int32_t run2;
  int32_t breaks;
  int32_t penalty;
};

// Replays `steps` steps of one lane with the exact rules, from its state at
// the chunk start: codes[s * stride + lane] is its code at byte first_byte + s.
// Adds the segments closed on the way to *totals and *segments (when not null).
void replay_lane(const uint8_t* codes, int32_t stride, int32_t lane, int32_t steps,
                 int32_t first_byte, int32_t chromosome, const LaneStart& start,
                 const ScanLayout& layout, PairScanTotals* totals, SegmentList* segments);

// Closes a lane's IBS1 and then its IBS2 run at the end of a chromosome
// (end_byte is one past its last byte).
void close_lane_runs(int32_t run1, int32_t run2, int32_t end_byte, int32_t chromosome,
                     const ScanLayout& layout, PairScanTotals* totals, SegmentList* segments);

// The byte ranges of a chromosome, as the scans take them.
void chromosome_bytes(const ScanLayout& layout, int32_t k, int32_t* first, int32_t* end);
