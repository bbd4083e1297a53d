// The pair scans: one pair of samples over their transposed rows, in the
// tolerant (2), merging (1) or strict (any other) mode.
#pragma once
#include <cstdint>

class RowBuffer;

// Number of leading variants (first, then second) of a byte pair that match:
// IBS2 (equal codes) or IBS >= 1 (codes at most one apart); a missing code
// (3) matches anything. Indexed by 16 * byte of sample a + byte of sample b.
extern const int16_t ibs2_run_table[256];
extern const int16_t ibs1_run_table[256];

struct PairScanContext {
  RowBuffer* row_buffer = nullptr;      // the worker's .ibd rows
  RowBuffer* segment_buffer = nullptr;  // the worker's .segments lines
  int32_t chromosome = 1;   // chromosome being scanned, from 1
  int32_t ncommon = 0;      // per-pair counts nothing adds to (NCOMMON prints 0)
  int32_t count_x = 0;
  int32_t count_y = 0;
  int32_t longest_ibs1 = 0;
  int32_t longest_ibs2 = 0;
  int32_t present_count[256];  // entries 0-254 unpacked from pair_ibs_table; no scan reads them
  int32_t ibs1_count[256];
  int32_t ibs2_count[256];
};

// Scans samples a and b over nvars retained variants and writes the pair's
// row (when it passes the report threshold) and, with --segments, its segment
// lines (the strict mode has none).
void scan_pair(PairScanContext* context, int32_t nvars, int32_t a, int32_t b);
void scan_pair_merging(PairScanContext* context, int32_t nvars, int32_t a, int32_t b);

// Scans n pairs (a[i], b[i]), n at most kPairBatch, in order: the rows and
// segment lines of n calls of scan_pair. The pair worker hands its own pairs
// over in batches, so a fast scan can take many pairs at once.
constexpr int32_t kPairBatch = 64;
void scan_pairs(PairScanContext* context, int32_t nvars, const int32_t* a, const int32_t* b,
                int32_t n);
