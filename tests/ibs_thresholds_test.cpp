#include "ibd/ibs_thresholds.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "input/genotype_store.h"

namespace {

std::vector<VariantRecord> spaced(int32_t n, int32_t step) {
  std::vector<VariantRecord> records(n);
  for (int32_t i = 0; i < n; ++i) records[i] = {1000 + i * step, "1"};
  return records;
}

// What f(FILE*) prints on that file and on stderr.
struct Printed {
  std::string out, err;
};
template <typename F>
Printed printed(F f) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  testing::internal::CaptureStderr();
  f(out);
  Printed p{"", testing::internal::GetCapturedStderr()};
  fclose(out);
  p.out.assign(text, size);
  free(text);
  return p;
}

Printed estimate(float freq, const std::vector<VariantRecord>& records, ThresholdSettings s = {}) {
  const int32_t n = static_cast<int32_t>(records.size());
  const std::vector<float> freqs(n, freq);
  std::vector<float> cumulative(n + 16);
  return printed([&](FILE* out) {
    estimate_ibd_thresholds(n, freqs.data(), records.data(), n, s, cumulative.data(), out);
  });
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(IbsEstimate, RefusesFewerThan500RetainedVariants) {
  const auto records = spaced(600, 1000);
  const std::vector<float> freqs(600, 0.3f);
  std::vector<float> cumulative(616);
  // nvars decides, not the number of frequencies.
  EXPECT_EXIT(estimate_ibd_thresholds(600, freqs.data(), records.data(), 499, {}, cumulative.data(),
                                      stderr),
              testing::ExitedWithCode(2),
              "^\nError: Too few variants for analysis, palvane works best with >10k variants "
              "selected \n$");
  EXPECT_TRUE(has(estimate(0.3f, spaced(500, 1000)).out, "Expected IBS"));
}

TEST(IbsEstimate, FullReport) {
  // p = 0.5: IBS0 = 2(pq)^2 = 0.125, IBS2 = 0.375; 14970 kb raise IBD1 to 500 * 10945 / 14970.
  const Printed p = estimate(0.5f, spaced(500, 30000));
  EXPECT_EQ(p.out,
            "      -   Expected IBS for unrelated pairs: p.IBS0 = 0.1250  p.IBS1 = 0.5000  p.IBS2 "
            "= 0.3750\n"
            "      -   Likelihood based region estimate: 174 p=8.11713e-11\n"
            " (ibs_est)       -   215 p=0.875000 perr=0.000000\n"
            " (ibs_est)       -   30 p=0.375000 perr=0.000000\n"
            " (ibs_est) Thresholds for defining regions as IBD1 = 215, IBD2 = 30\n"
            " (ibs_est) Inflation at edges IBS1 = 14.0, IBS2 = 3.3\n"
            "      -   Genome size: 14970.000000\n"
            "      -   gs_threshold=365.564462\n"
            "      -   (ibs_est) Adjust segment size to 365 markers (from 215)\n"
            "      -   IBS1 threshold : 73.00 % of genome  (365 markers) \n"
            "      -   IBS2 threshold : 12.00 % of genome  (60 markers) \n\n\n");
  EXPECT_EQ(p.err, "");
  // Given thresholds replace the estimates after the floor and the scale.
  EXPECT_TRUE(has(estimate(0.5f, spaced(500, 30000), {1, 300, 1.0, 0.5}).out,
                  "(from 215)\n      -   IBS1 threshold : 60.00 % of genome  (300 markers) \n"
                  "      -   IBS2 threshold : 12.00 % of genome  (60 markers) \n"));
}

TEST(IbsEstimate, NoQualifyingLengthAndNoGenomeSize) {
  // p = 0.027: IBS0 so rare that no k < 500 qualifies; perr is that of k = 499.
  const double pq = 0.027f * (1.0 - 0.027f), a = 1.0 - 2.0 * pq * pq;
  char line[96];
  snprintf(line, sizeof line, " (ibs_est)       -   500 p=%f perr=%f\n", a, std::pow(a, 499));
  EXPECT_TRUE(has(estimate(0.027f, spaced(500, 30000)).out, line)) << line;

  // All frequencies 0, all at one position: no genome size, so no floor.
  const Printed p = estimate(0.0f, spaced(500, 0));
  for (const char* part : {"region estimate: 500 p=0\n", "IBS1 = inf, IBS2 = 0.0\n",
                           "gs_threshold=inf\n", "(500 markers) \n"})
    EXPECT_TRUE(has(p.out, part)) << part;
  EXPECT_FALSE(has(p.out, "Adjust"));
  EXPECT_EQ(p.err,
            "Warning: genome size 0.000000 kb is below 1 kb, so the genome-size floor of the IBD1 "
            "threshold is skipped\n");
}

TEST(IbsEstimate, GenomeSizeAndItsFloor) {
  // +4,999,999 counts; +5,000,000, a repeat and a step back do not; +1000 counts,
  // and so does +10 into another chromosome. A wrapping int32 difference counts as wrapped.
  const std::vector<VariantRecord> r = {{100, "1"}, {5000099, "1"}, {10000099, "1"},
                                        {10000099, "1"}, {50, "1"}, {1050, "1"}, {1060, "2"}};
  EXPECT_DOUBLE_EQ(genome_size_kb(7, r.data()), 5001.009);
  const std::vector<VariantRecord> wrap = {{INT_MAX, "1"}, {INT_MIN, "1"}};
  EXPECT_DOUBLE_EQ(genome_size_kb(2, wrap.data()), 0.001);

  MarkerThresholds t{900, 150};  // 10007 variants over 109450 whole kb: gs_threshold 1000.7
  EXPECT_EQ(printed([&](FILE* out) { apply_genome_size_floor(10007, 109450.5, &t, out); }).out,
            "      -   Genome size: 109450.500000\n      -   gs_threshold=1000.700000\n"
            "      -   (ibs_est) Adjust segment size to 1000 markers (from 900)\n");
  EXPECT_EQ(t.ibd1, 1000);
  EXPECT_EQ(t.ibd2, 166);
  t = {1000, 77};  // gs_threshold exactly 1000: not above
  printed([&](FILE* out) { apply_genome_size_floor(10000, 109450, &t, out); });
  EXPECT_EQ(t.ibd2, 77);
  t = {900, 150};  // 0.999 kb is 0 whole kb: skipped, not infinite
  EXPECT_TRUE(has(printed([&](FILE* out) { apply_genome_size_floor(500, 0.999, &t, out); }).err,
                  "genome size 0.999000 kb is below 1 kb"));
  EXPECT_EQ(t.ibd1, 900);
}

TEST(IbsEstimate, ScaleAndCommandLineModes) {
  struct { double scale; int32_t ibd1, ibd2; } scales[] = {
      {0.5, 51, 4}, {-1.0, 101, 7}, {1.0, 101, 7}, {-0.5, -50, -3}};
  for (const auto& c : scales) {
    MarkerThresholds t{101, 7};
    apply_threshold_scale(c.scale, &t);
    EXPECT_EQ(std::pair(t.ibd1, t.ibd2), std::pair(c.ibd1, c.ibd2)) << c.scale;
  }
  struct { ThresholdSettings s; int32_t ibd1, ibd2; } modes[] = {
      {{0, 0.002, 0.0, 1.0}, 200, 40}, {{1, 300, 1.0, 1.0}, 300, 60},
      {{1, 300, 1.5, 1.0}, 300, 1},    {{2, 300, 1.5, 1.0}, 999, 998}};
  for (const auto& m : modes) {
    MarkerThresholds t{999, 998};
    apply_threshold_mode(m.s, 100000, &t);
    EXPECT_EQ(std::pair(t.ibd1, t.ibd2), std::pair(m.ibd1, m.ibd2))
        << m.s.mode << " " << m.s.ibd2;
  }
}

TEST(IbsEstimate, ThresholdsBeyondInt32AreClamped) {
  const Printed p = printed([](FILE* out) {
    struct { double value; int32_t want; } cases[] = {
        {2147483647.9, INT_MAX}, {-2147483648.9, INT_MIN}, {-7.9, -7},
        {2147483648.0, INT_MAX}, {-INFINITY, INT_MIN},     {NAN, 5}};
    for (const auto& c : cases) EXPECT_EQ(threshold_to_int32(c.value, 5, "IBD2"), c.want);
    // Every path that sets a threshold clamps.
    MarkerThresholds t{101, 7};
    apply_threshold_scale(1e10, &t);
    EXPECT_EQ(t.ibd2, INT_MAX);
    apply_threshold_mode({0, -1e300, 0.0, 1.0}, 100000, &t);
    EXPECT_EQ(t.ibd1, INT_MIN);
    apply_genome_size_floor(2000000000, 1.5, &t, out);  // a floor of 2e13 markers
    EXPECT_EQ(t.ibd1, INT_MAX);
    EXPECT_EQ(t.ibd2, INT_MAX / 6);
  });
  // The first three are in range and warn about nothing.
  EXPECT_EQ(p.err.rfind("Warning: IBD2 threshold 2.14748e+09 markers lies outside the int32 "
                        "range, clamped to 2147483647\n"
                        "Warning: IBD2 threshold -inf markers lies outside the int32 range, "
                        "clamped to -2147483648\n"
                        "Warning: IBD2 threshold is not a number, kept at 5 markers\n",
                        0),
            0u);
}

}  // namespace
