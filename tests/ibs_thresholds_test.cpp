#include "ibd/ibs_thresholds.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "input/genotype_store.h"
#include "tests/test_util.h"

namespace {

std::vector<VariantRecord> spaced(int32_t n, int32_t step) {
  std::vector<VariantRecord> records(n);
  for (int32_t i = 0; i < n; ++i) records[i] = {1000 + i * step, "1"};
  return records;
}

struct EstimateRun {
  ThresholdResult result;
  std::string out, err;
  std::vector<float> cumulative;
};

// Runs f(FILE*) with its report in memory and stderr captured.
template <typename F>
std::string report_of(F f, std::string* err = nullptr) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  testing::internal::CaptureStderr();
  f(out);
  std::string e = testing::internal::GetCapturedStderr();
  if (err) *err = e;
  fclose(out);
  std::string s(text, size);
  free(text);
  return s;
}

EstimateRun estimate(float freq, const std::vector<VariantRecord>& records,
                     ThresholdSettings s = {}) {
  const int32_t n = static_cast<int32_t>(records.size());
  const std::vector<float> freqs(n, freq);
  EstimateRun r;
  r.cumulative.assign(n + 16, -7.0f);
  r.out = report_of(
      [&](FILE* out) {
        r.result = estimate_ibd_thresholds(n, freqs.data(), records.data(), n, s,
                                           r.cumulative.data(), out);
      },
      &r.err);
  return r;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(IbsEstimateTest, RefusesFewerThan500Variants) {
  TempDir dir;
  const std::string path = dir.file("out");
  const auto records = spaced(600, 1000);
  const std::vector<float> freqs(600, 0.3f);
  std::vector<float> cumulative(616);
  // nvars decides, not the number of frequencies.
  EXPECT_EXIT(estimate_ibd_thresholds(600, freqs.data(), records.data(), 499, {}, cumulative.data(),
                                      fopen(path.c_str(), "w")),
              testing::ExitedWithCode(2), "");
  EXPECT_EQ(
      read_file(path),
      "\nError: Too few variants for analysis, palvane works best with >10k variants selected \n");
  EXPECT_TRUE(has(estimate(0.3f, spaced(500, 1000)).out, "Expected IBS"));
}

TEST(IbsEstimateTest, FullReport) {
  // p = 0.5: IBS0 = 2(pq)^2 = 0.125, IBS2 = 0.375; 14970 kb raise IBD1 to 500 * 10945 / 14970.
  const EstimateRun r = estimate(0.5f, spaced(500, 30000));
  EXPECT_EQ(r.out,
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
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.result.markers.ibd1, 365);
  EXPECT_EQ(r.result.markers.ibd2, 60);
  EXPECT_NEAR(r.cumulative[99], 100 * std::log(0.875), 1e-3);
  for (int i = 500; i < 515; ++i) EXPECT_EQ(r.cumulative[i], r.cumulative[499]);
  EXPECT_EQ(r.cumulative[515], -7.0f);  // the last entry is not set
}

TEST(IbsEstimateTest, SearchWithoutQualifyingKAndAllZeroFrequencies) {
  // p = 0.027: IBS0 so rare that no k < 500 qualifies; perr is that of k = 499.
  const double pq = 0.027f * (1.0 - 0.027f), a = 1.0 - 2.0 * pq * pq;
  char line[96];
  snprintf(line, sizeof line, " (ibs_est)       -   500 p=%f perr=%f\n", a, std::pow(a, 499));
  EXPECT_TRUE(has(estimate(0.027f, spaced(500, 30000)).out, line)) << line;

  // All at one position too: no genome size, so no floor (with the reason on stderr).
  const EstimateRun r = estimate(0.0f, spaced(500, 0));
  for (const char* part :
       {"p.IBS0 = 0.0000  p.IBS1 = 0.0000  p.IBS2 = 1.0000\n", "region estimate: 500 p=0\n",
        "   500 p=1.000000 perr=1.000000\n", "IBD1 = 500, IBD2 = 500\n", "IBS1 = inf, IBS2 = 0.0\n",
        "gs_threshold=inf\n"})
    EXPECT_TRUE(has(r.out, part)) << part;
  EXPECT_FALSE(has(r.out, "Adjust"));
  EXPECT_EQ(r.err,
            "Warning: genome size 0.000000 kb is below 1 kb, so the genome-size floor of the IBD1 "
            "threshold is skipped\n");
  EXPECT_TRUE(std::isinf(r.result.ibs1_edge_inflation));
  EXPECT_EQ(r.result.markers.ibd1, 500);
}

TEST(IbsEstimateTest, GenomeSizeCountsForwardStepsUnder5Mb) {
  // +4,999,999 counts; +5,000,000, a repeat and a step back do not; +1000 counts,
  // and so does +10 into another chromosome. A wrapping int32 difference counts as wrapped.
  const std::vector<VariantRecord> r = {{100, "1"},      {5000099, "1"}, {10000099, "1"},
                                        {10000099, "1"}, {50, "1"},      {1050, "1"},
                                        {1060, "2"}};
  EXPECT_DOUBLE_EQ(genome_size_kb(7, r.data()), 5001.009);
  const std::vector<VariantRecord> wrap = {{INT_MAX, "1"}, {INT_MIN, "1"}};
  EXPECT_DOUBLE_EQ(genome_size_kb(2, wrap.data()), 0.001);
}

TEST(IbsEstimateTest, GenomeSizeFloor) {
  MarkerThresholds t{900, 150};  // 10007 variants over 109450 whole kb: gs_threshold 1000.7
  EXPECT_EQ(report_of([&](FILE* out) { apply_genome_size_floor(10007, 109450.5, &t, out); }),
            "      -   Genome size: 109450.500000\n      -   gs_threshold=1000.700000\n"
            "      -   (ibs_est) Adjust segment size to 1000 markers (from 900)\n");
  EXPECT_EQ(t.ibd1, 1000);
  EXPECT_EQ(t.ibd2, 166);
  t = {1000, 77};  // gs_threshold exactly 1000: not above
  EXPECT_FALSE(has(report_of([&](FILE* out) { apply_genome_size_floor(10000, 109450, &t, out); }),
                   "Adjust"));
  t = {900, 150};  // 0.999 kb is 0 whole kb
  std::string err;
  report_of([&](FILE* out) { apply_genome_size_floor(500, 0.999, &t, out); }, &err);
  EXPECT_TRUE(has(err, "genome size 0.999000 kb is below 1 kb"));
  EXPECT_EQ(t.ibd1, 900);
  EXPECT_EQ(t.ibd2, 150);
}

TEST(IbsEstimateTest, ScaleAndCommandLineModes) {
  struct Case {
    double scale;
    int32_t ibd1, ibd2;
  } scales[] = {{0.5, 51, 4}, {-1.0, 101, 7}, {1.0, 101, 7}, {-0.5, -50, -3}};
  for (const Case& c : scales) {
    MarkerThresholds t{101, 7};
    apply_threshold_scale(c.scale, &t);
    EXPECT_EQ(t.ibd1, c.ibd1) << c.scale;
    EXPECT_EQ(t.ibd2, c.ibd2) << c.scale;
  }
  struct Mode {
    ThresholdSettings s;
    int32_t ibd1, ibd2;
  } modes[] = {{{0, 0.002, 0.0, 1.0}, 200, 40},
               {{1, 300, 1.0, 1.0}, 300, 60},
               {{1, 300, 1.5, 1.0}, 300, 1},
               {{2, 300, 1.5, 1.0}, 999, 998}};
  for (const Mode& m : modes) {
    MarkerThresholds t{999, 998};
    apply_threshold_mode(m.s, 100000, &t);
    EXPECT_EQ(t.ibd1, m.ibd1) << m.s.mode;
    EXPECT_EQ(t.ibd2, m.ibd2) << m.s.mode;
  }
  // In a run the estimate lines stay; neither floor nor scale touches the given thresholds.
  const EstimateRun r = estimate(0.5f, spaced(500, 30000), {1, 300, 1.0, 0.5});
  EXPECT_TRUE(has(r.out, "Adjust segment size to 365 markers (from 215)\n"));
  EXPECT_TRUE(has(r.out, "IBS1 threshold : 60.00 % of genome  (300 markers) \n"));
  EXPECT_TRUE(has(r.out, "IBS2 threshold : 12.00 % of genome  (60 markers) \n\n\n"));
}

TEST(IbsEstimateTest, ThresholdsBeyondInt32AreClamped) {
  std::string err;
  report_of(
      [](FILE*) {
        EXPECT_EQ(threshold_to_int32(2147483647.9, 5, "IBD1"), INT_MAX);
        EXPECT_EQ(threshold_to_int32(-2147483648.9, 5, "IBD1"), INT_MIN);
        EXPECT_EQ(threshold_to_int32(-7.9, 5, "IBD1"), -7);
      },
      &err);
  EXPECT_EQ(err, "");  // all in range
  report_of(
      [](FILE* out) {
        EXPECT_EQ(threshold_to_int32(2147483648.0, 5, "IBD1"), INT_MAX);
        EXPECT_EQ(threshold_to_int32(-INFINITY, 5, "IBD2"), INT_MIN);
        EXPECT_EQ(threshold_to_int32(NAN, 5, "IBD2"), 5);
        MarkerThresholds t{101, 7};
        apply_threshold_scale(1e10, &t);
        EXPECT_EQ(t.ibd2, INT_MAX);
        apply_threshold_mode({0, -1e300, 0.0, 1.0}, 100000, &t);
        EXPECT_EQ(t.ibd1, INT_MIN);
        apply_genome_size_floor(2000000000, 1.5, &t, out);  // a floor of 2e13 markers
        EXPECT_EQ(t.ibd1, INT_MAX);
        EXPECT_EQ(t.ibd2, INT_MAX / 6);
      },
      &err);
  EXPECT_TRUE(has(err,
                  "Warning: IBD1 threshold 2.14748e+09 markers lies outside the int32 range, "
                  "clamped to 2147483647\n"));
  EXPECT_TRUE(has(err,
                  "Warning: IBD2 threshold -inf markers lies outside the int32 range, clamped to "
                  "-2147483648\n"));
  EXPECT_TRUE(has(err, "Warning: IBD2 threshold is not a number, kept at 5 markers\n"));
}
