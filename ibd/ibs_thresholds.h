// Expected IBS rates of unrelated pairs and the IBD1/IBD2 marker thresholds
// derived from them.
#pragma once
#include <cstdint>

namespace IbdThresholds {
extern int32_t ibd1_markers;  // a run of IBS >= 1 longer than this is an IBD1 segment
extern int32_t ibd2_markers;  // a run of IBS2 longer than this is an IBD2 segment
extern float ibs1_edge_inflation;  // printed only
extern float ibs2_edge_inflation;
}  // namespace IbdThresholds

extern float* cumulative_log_no_ibs0;

// Runs after the input is read: refuses fewer than 500 variants (exit 2),
// prints the statistics and sets IbdThresholds.
void ibs_est();
