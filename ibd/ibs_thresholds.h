// Expected IBS rates of unrelated pairs and the IBD1/IBD2 marker thresholds
// derived from them.
#pragma once
#include <cstdint>
#include <cstdio>

struct VariantRecord;

namespace IbdThresholds {
extern int32_t ibd1_markers;       // a run of IBS >= 1 longer than this is an IBD1 segment
extern int32_t ibd2_markers;       // a run of IBS2 longer than this is an IBD2 segment
extern float ibs1_edge_inflation;  // printed only
extern float ibs2_edge_inflation;
}  // namespace IbdThresholds

extern float* cumulative_log_no_ibs0;

// Runs after the input is read: refuses fewer than 500 variants (exit 2),
// prints the statistics and sets IbdThresholds.
void ibs_est();

// ---- The computation behind ibs_est, on explicit inputs ----

// The RunSettings values that shape the thresholds.
struct ThresholdSettings {
  int32_t mode = 2;     // 0 fractions of the variants, 1 marker counts, else the estimates
  double ibd1 = 0.002;  // f1: fraction (mode 0) or markers (mode 1)
  double ibd2 = 0.001;  // f2: same units
  double scale = 1.0;   // factor on the estimates; -1.0 = no scaling
};

struct MarkerThresholds {
  int32_t ibd1 = 0;
  int32_t ibd2 = 0;
};

struct ThresholdResult {
  MarkerThresholds markers;
  float ibs1_edge_inflation = 0;
  float ibs2_edge_inflation = 0;
};

constexpr int32_t kMinVariantsForAnalysis = 500;

// Everything ibs_est does, for n variants with minor-allele frequencies freqs[]
// and positions records[].pos, nvars retained variants (the count the variant
// test, the modes and the percentages use). Fills cumulative (n + 16 entries;
// the last one is left alone), prints the report on out and warnings on
// stderr. Prints the refusal on out and exits with status 2 when nvars < 500.
ThresholdResult estimate_ibd_thresholds(int32_t n, const float* freqs, const VariantRecord* records,
                                        int32_t nvars, const ThresholdSettings& settings,
                                        float* cumulative, FILE* out);

// Smallest k in 1 .. n-1 with 1 - (1 - a^k)^(n-k) < 1e-10, or n when none
// qualifies; perr receives the value at the returned k (at n - 1 for n).
int32_t search_marker_threshold(double a, int32_t n, double* perr);

// Sum of the forward steps under 5 Mb between consecutive positions, in kb.
double genome_size_kb(int32_t n, const VariantRecord* records);

// Prints the genome size and gs_threshold = n * 10945 / whole kb, and raises
// the IBD1 threshold to gs_threshold when it is larger (IBD2 becoming IBD1 / 6).
// Under 1 kb there is no finite floor: the raise is skipped with a warning.
void apply_genome_size_floor(int32_t n, double genome_kb, MarkerThresholds* thresholds, FILE* out);

// Multiplies both thresholds by scale, rounding half up; scale -1.0 does nothing.
void apply_threshold_scale(double scale, MarkerThresholds* thresholds);
// Modes 0 and 1 replace both thresholds by those given on the command line.
void apply_threshold_mode(const ThresholdSettings& settings, int32_t nvars,
                          MarkerThresholds* thresholds);

// Truncates value toward zero into int32. Values beyond the int32 range are
// clamped to it, and a value that is not a number keeps `previous`; both with
// a one-line warning on stderr naming the threshold ("IBD1" or "IBD2").
int32_t threshold_to_int32(double value, int32_t previous, const char* name);
