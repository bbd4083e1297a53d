#include "ibd/ibs_thresholds.h"
#include "setup/run_messages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "input/genotype_store.h"
#include "setup/run_settings.h"

namespace IbdThresholds {
int32_t ibd1_markers = 0;
int32_t ibd2_markers = 0;
float ibs1_edge_inflation = 0;
float ibs2_edge_inflation = 0;
}  // namespace IbdThresholds

float* cumulative_log_no_ibs0 = nullptr;

namespace {


constexpr char kTooFewVariants[] =
    "\nError: Too few variants for analysis, palvane works best with >10k variants selected%c\n";
constexpr char kExpectedIbs[] =
    "%s Expected IBS for unrelated pairs: p.IBS0 = %6.4f  p.IBS1 = %6.4f  p.IBS2 = %6.4f\n";
constexpr char kRegionEstimate[] = "%s Likelihood based region estimate: %d p=%g\n";
constexpr char kSearchResult[] = " (ibs_est) %s %d p=%f perr=%f\n";
constexpr char kThresholdsLine[] =
    " (ibs_est) Thresholds for defining regions as IBD1 = %d, IBD2 = %d\n";
constexpr char kInflationLine[] = " (ibs_est) Inflation at edges IBS1 = %.1f, IBS2 = %.1f\n";
constexpr char kGenomeSize[] = "%s Genome size: %f\n";
constexpr char kGsThreshold[] = "%s gs_threshold=%f\n";
constexpr char kAdjustSegment[] = "%s (ibs_est) Adjust segment size to %d markers (from %d)\n";
constexpr char kIbs1Report[] = "%s IBS1 threshold : %.2f %% of genome  (%d markers) \n";
constexpr char kIbs2Report[] = "%s IBS2 threshold : %.2f %% of genome  (%d markers) \n\n\n";

constexpr char kWarnNoGenomeFloor[] =
    "Warning: genome size %f kb is below 1 kb, so the genome-size floor of the IBD1 threshold "
    "is skipped\n";
constexpr char kWarnClamped[] =
    "Warning: %s threshold %g markers lies outside the int32 range, clamped to %d\n";
constexpr char kWarnNotANumber[] = "Warning: %s threshold is not a number, kept at %d markers\n";

constexpr double kLog1e10 = -23.025850929940457;  // ln(1e-10)
constexpr double kNoWindow = -1e9;
constexpr int32_t kMaxStepBp = 4999999;  // longer steps are gaps, not genome
constexpr double kFloorSpanKb = 10945.0;

struct ExpectedIbs {
  double ibs0, ibs1, ibs2;
};

// Rates of IBS0/IBS2 between unrelated samples averaged over the variants,
// and the running sum of ln P(no IBS0) kept in single precision.
ExpectedIbs expected_ibs(int32_t n, const float* freqs, float* cumulative) {
  double s0 = 0, s2 = 0, l0 = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double p = freqs[i];
    const double q = 1.0 - p;
    const double pq = p * q;
    const double e0 = pq * pq + pq * pq;
    const double e2 = q * q * q * q + p * p * p * p + 4.0 * p * p * q * q;
    s0 += e0;
    s2 += e2;
    l0 += std::log(1.0 - e0);
    cumulative[i] = static_cast<float>(l0);
  }
  if (n > 0) std::fill(cumulative + n, cumulative + n + 15, cumulative[n - 1]);
  ExpectedIbs e;
  e.ibs0 = s0 / n;
  e.ibs2 = s2 / n;
  e.ibs1 = 1.0 - (e.ibs0 + e.ibs2);
  return e;
}

// Widens the window from 20 in steps of 2 until even the likeliest window
// without IBS0 (every third start tried) has probability at most 1e-10.
void print_region_estimate(int32_t n, const float* cumulative, FILE* out) {
  int32_t w = 20;
  int32_t bound = n - 21;
  double best = kNoWindow;
  for (;;) {
    best = kNoWindow;
    if (bound <= 0) break;
    for (int32_t j = 0; j < bound; j += 3) {
      const float d = cumulative[j + w] - cumulative[j];
      best = std::max(best, static_cast<double>(d));
    }
    if (!(best > kLog1e10)) break;
    bound -= 2;
    w += 2;
  }
  fprintf(out, kRegionEstimate, kDetail, w, std::exp(best));
}

}  // namespace

int32_t threshold_to_int32(double value, int32_t previous, const char* name) {
  if (std::isnan(value)) {
    fprintf(stderr, kWarnNotANumber, name, previous);
    return previous;
  }
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  // Truncation keeps anything strictly between these two in range.
  if (value >= 2147483648.0 || value <= -2147483649.0) {
    const int32_t clamped = value > 0 ? kMax : kMin;
    fprintf(stderr, kWarnClamped, name, value, clamped);
    return clamped;
  }
  return static_cast<int32_t>(value);
}

int32_t search_marker_threshold(double a, int32_t n, double* perr) {
  double p = 1.0;
  for (int32_t k = 1; k <= n - 1; ++k) {
    p = 1.0 - std::pow(1.0 - std::pow(a, static_cast<double>(k)), static_cast<double>(n - k));
    if (p < 1e-10) {
      *perr = p;
      return k;
    }
  }
  *perr = p;
  return n;
}

double genome_size_kb(int32_t n, const VariantRecord* records) {
  double sum = 0;
  for (int32_t i = 1; i < n; ++i) {
    // Wrapping int32 difference, without the undefined overflow.
    const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(records[i].pos) -
                                           static_cast<uint32_t>(records[i - 1].pos));
    if (d > 0 && d <= kMaxStepBp) sum += d;
  }
  return sum * 0.001;
}

void apply_genome_size_floor(int32_t n, double genome_kb, MarkerThresholds* t, FILE* out) {
  fprintf(out, kGenomeSize, kDetail, genome_kb);
  const double whole_kb = std::trunc(genome_kb);
  if (whole_kb == 0) {
    // n / 0 kb: the floor would be infinite, so there is none to apply.
    fprintf(out, kGsThreshold, kDetail, std::numeric_limits<double>::infinity());
    fprintf(stderr, kWarnNoGenomeFloor, genome_kb);
    return;
  }
  const double gs_threshold = static_cast<double>(n) * kFloorSpanKb / whole_kb;
  fprintf(out, kGsThreshold, kDetail, gs_threshold);
  if (gs_threshold > t->ibd1) {
    const int32_t old = t->ibd1;
    t->ibd1 = threshold_to_int32(gs_threshold, old, "IBD1");
    fprintf(out, kAdjustSegment, kDetail, t->ibd1, old);
    t->ibd2 = t->ibd1 / 6;
  }
}

void apply_threshold_scale(double scale, MarkerThresholds* t) {
  if (scale == -1.0) return;
  t->ibd1 = threshold_to_int32(t->ibd1 * scale + 0.5, t->ibd1, "IBD1");
  t->ibd2 = threshold_to_int32(t->ibd2 * scale + 0.5, t->ibd2, "IBD2");
}

void apply_threshold_mode(const ThresholdSettings& s, int32_t nvars, MarkerThresholds* t) {
  double f2 = s.ibd2;
  if (s.mode == 0) {
    t->ibd1 = threshold_to_int32(nvars * s.ibd1, t->ibd1, "IBD1");
    if (f2 <= 0) f2 = 0.2 * s.ibd1;
    t->ibd2 = threshold_to_int32(f2 * nvars, t->ibd2, "IBD2");
  } else if (s.mode == 1) {
    t->ibd1 = threshold_to_int32(s.ibd1, t->ibd1, "IBD1");
    if (f2 <= 1.0) f2 = 0.2 * s.ibd1;
    t->ibd2 = threshold_to_int32(f2, t->ibd2, "IBD2");
  }
}

ThresholdResult estimate_ibd_thresholds(int32_t n, const float* freqs, const VariantRecord* records,
                                        int32_t nvars, const ThresholdSettings& settings,
                                        float* cumulative, FILE* out) {
  if (nvars < kMinVariantsForAnalysis) {
    fprintf(out, kTooFewVariants, ' ');
    exit(2);
  }
  const ExpectedIbs e = expected_ibs(n, freqs, cumulative);
  fprintf(out, kExpectedIbs, kDetail, e.ibs0, e.ibs1, e.ibs2);
  print_region_estimate(n, cumulative, out);

  ThresholdResult r;
  double perr = 0;
  const double a1 = 1.0 - e.ibs0;
  r.markers.ibd1 = search_marker_threshold(a1, n, &perr);
  fprintf(out, kSearchResult, kDetail, r.markers.ibd1, a1, perr);
  r.markers.ibd2 = search_marker_threshold(e.ibs2, n, &perr);
  fprintf(out, kSearchResult, kDetail, r.markers.ibd2, e.ibs2, perr);

  // With every frequency 0, p.IBS0 is 0 and the IBS1 factor is infinite; it is only printed.
  r.ibs1_edge_inflation = static_cast<float>(2.0 * (1.0 - e.ibs0) / e.ibs0);
  r.ibs2_edge_inflation = static_cast<float>(2.0 * (1.0 - e.ibs2) / e.ibs2);
  fprintf(out, kThresholdsLine, r.markers.ibd1, r.markers.ibd2);
  fprintf(out, kInflationLine, r.ibs1_edge_inflation, r.ibs2_edge_inflation);

  apply_genome_size_floor(n, genome_size_kb(n, records), &r.markers, out);
  apply_threshold_scale(settings.scale, &r.markers);
  apply_threshold_mode(settings, nvars, &r.markers);

  fprintf(out, kIbs1Report, kDetail, 100.0 * r.markers.ibd1 / nvars, r.markers.ibd1);
  fprintf(out, kIbs2Report, kDetail, 100.0 * r.markers.ibd2 / nvars, r.markers.ibd2);
  return r;
}

void ibs_est() {
  const int32_t n = allele_freqs.count;
  const int64_t bytes = (static_cast<int64_t>(n) + 16) * static_cast<int64_t>(sizeof(float));
  cumulative_log_no_ibs0 = static_cast<float*>(malloc(static_cast<size_t>(bytes)));
  if (!cumulative_log_no_ibs0) fail_allocation(bytes);

  ThresholdSettings settings;
  settings.mode = RunSettings::threshold_mode;
  settings.ibd1 = RunSettings::ibd1_threshold;
  settings.ibd2 = RunSettings::ibd2_threshold;
  settings.scale = RunSettings::threshold_scale;
  const ThresholdResult r =
      estimate_ibd_thresholds(n, allele_freqs.data, variant_records.data, GenotypeMatrix::nvars,
                              settings, cumulative_log_no_ibs0, stdout);
  IbdThresholds::ibd1_markers = r.markers.ibd1;
  IbdThresholds::ibd2_markers = r.markers.ibd2;
  IbdThresholds::ibs1_edge_inflation = r.ibs1_edge_inflation;
  IbdThresholds::ibs2_edge_inflation = r.ibs2_edge_inflation;
}
