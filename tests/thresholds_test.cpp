// The IBD marker thresholds: the length search, the genome-size floor, the
// scale, the command-line modes and the int32 clamp (the whole-run table
// shows the estimate from allele frequencies).
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ibd/ibs_thresholds.h"
#include "input/genotype_store.h"

namespace {
// Standard output and standard error of f(stdout).
template <typename F>
std::string printed(F f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  return out + "|" + testing::internal::GetCapturedStderr();
}

TEST(IbsThresholds, SearchTakesTheSmallestLengthFromOneToNMinusOne) {
  // 0.08^10 < 1e-10 < 2 * 0.08^9; 0.11^10 > 1e-10, so nothing up to n - 1 = 10 qualifies.
  const std::tuple<double, int32_t, int32_t, double> searches[] = {
      {1e-11, 5, 1, 4e-11}, {0.08, 11, 10, std::pow(0.08, 10)}, {0.11, 11, 11, std::pow(0.11, 10)}};
  for (const auto& [a, n, want, want_perr] : searches) {
    double perr = -1;
    EXPECT_EQ(search_marker_threshold(a, n, &perr), want) << a;
    EXPECT_NEAR(perr / want_perr, 1.0, 1e-4) << a;
  }
}

TEST(IbsThresholds, GenomeSizeAndItsFloor) {
  // +4,999,999 counts; +5,000,000, a repeat and a step back do not; +1000 counts,
  // and so does +10 into another chromosome. A wrapping int32 difference counts as wrapped.
  const std::vector<VariantRecord> r = {{100, "1"},      {5000099, "1"}, {10000099, "1"},
                                        {10000099, "1"}, {50, "1"},      {1050, "1"},
                                        {1060, "2"},     {INT_MAX, "2"}, {INT_MIN, "2"}};
  EXPECT_DOUBLE_EQ(genome_size_kb(9, r.data()), 5001.010);
  // 10007 variants over 109450 whole kb: a floor of 1000.7; 10000 variants:
  // exactly 1000, not above; 0.999 kb is 0 whole kb: skipped, not infinite.
  const std::tuple<int32_t, double, int32_t, int32_t, int32_t> cases[] = {
      {10007, 109450.5, 900, 1000, 166},
      {10000, 109450, 1000, 1000, 77},
      {500, 0.999, 900, 900, 77}};
  std::string printout;
  for (const auto& [n, kb, before, ibd1, ibd2] : cases) {
    MarkerThresholds t{before, 77};
    printout = printed([&](FILE* out) { apply_genome_size_floor(n, kb, &t, out); });
    EXPECT_EQ(std::pair(t.ibd1, t.ibd2), std::pair(ibd1, ibd2)) << printout;
  }
  EXPECT_EQ(
      printout,
      "      -   Genome size: 0.999000\n      -   gs_threshold=inf\n|Warning: genome size "
      "0.999000 kb is below 1 kb, so the genome-size floor of the IBD1 threshold is skipped\n");
}

TEST(IbsThresholds, ScaleModesAndTheInt32Clamp) {
  const std::tuple<double, int32_t, int32_t> scales[] = {
      {0.5, 51, 4}, {-1.0, 101, 7}, {-0.5, -50, -3}, {1e10, INT_MAX, INT_MAX}};
  for (const auto& [scale, ibd1, ibd2] : scales) {
    MarkerThresholds t{101, 7};
    printed([&](FILE*) { apply_threshold_scale(scale, &t); });
    EXPECT_EQ(std::pair(t.ibd1, t.ibd2), std::pair(ibd1, ibd2)) << scale;
  }
  // An IBD2 value of at most 0 (fractions) or 1 (markers) means a fifth of IBD1.
  const std::tuple<ThresholdSettings, int32_t, int32_t> modes[] = {
      {{0, 0.002, 0.0, 1.0}, 200, 40}, {{0, 0.002, 0.0001, 1.0}, 200, 10},
      {{1, 300, 1.0, 1.0}, 300, 60},   {{1, 300, 1.5, 1.0}, 300, 1},
      {{2, 300, 1.5, 1.0}, 999, 998},  {{0, -1e300, 0.0, 1.0}, INT_MIN, INT_MIN}};
  for (const auto& [s, ibd1, ibd2] : modes) {
    MarkerThresholds t{999, 998};
    printed([&](FILE*) { apply_threshold_mode(s, 100000, &t); });
    EXPECT_EQ(std::pair(t.ibd1, t.ibd2), std::pair(ibd1, ibd2)) << s.mode << " " << s.ibd2;
  }
  MarkerThresholds t{101, 7};  // a floor of about 2.2e13 markers
  printed([&](FILE* out) { apply_genome_size_floor(2000000000, 1.5, &t, out); });
  EXPECT_EQ(std::pair(t.ibd1, t.ibd2), std::pair(INT_MAX, INT_MAX / 6));
  const std::pair<double, int32_t> values[] = {
      {2147483647.9, INT_MAX}, {-2147483648.9, INT_MIN}, {-7.9, -7},
      {2147483648.0, INT_MAX}, {-2147483649.0, INT_MIN}, {NAN, 5}};
  EXPECT_EQ(printed([&](FILE*) {
              for (auto [value, want] : values)
                EXPECT_EQ(threshold_to_int32(value, 5, "IBD2"), want);
            }),
            "|Warning: IBD2 threshold 2.14748e+09 markers lies outside the int32 range, clamped "
            "to 2147483647\nWarning: IBD2 threshold -2.14748e+09 markers lies outside the int32 "
            "range, clamped to -2147483648\nWarning: IBD2 threshold is not a number, kept at 5 "
            "markers\n");
}

}  // namespace
