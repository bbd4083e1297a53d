// The vector tolerant kernels against the plain one, on random cohorts made
// to hit their corners: totals field for field, segments in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ibd/pair_scan_kernels.h"
#include "tests/packed_rows.h"

namespace {

// Transposed rows, each its own allocation of exactly nvars bytes so that a
// read past a row's end is caught by the sanitizers.
struct Cohort {
  int32_t nvars = 0;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<int32_t> ends;  // chromosome ends, from 0
  ScanLayout layout(int32_t t1, int32_t t2) const {
    return {ends.data(), static_cast<int32_t>(ends.size()), nvars, t1, t2};
  }
};

// Samples from per-variant allele frequencies; about half copy an earlier
// sample in stretches (the genotype, one allele, or nothing) with rare
// errors, and one in twenty is never called. 1 to 6 chromosomes with random
// (often odd) ends, the last sometimes short of nvars.
Cohort draw_cohort(std::mt19937& rng, int32_t nvars, int samples) {
  std::uniform_real_distribution<double> unit(0, 1);
  const double missing = rng() % 3 == 0 ? 0.0 : 0.02;
  std::vector<double> freq(nvars);
  for (double& f : freq) f = 0.05 + 0.45 * unit(rng);
  auto draw = [&](int32_t v) {
    return unit(rng) < missing ? 3 : (unit(rng) < freq[v]) + (unit(rng) < freq[v]);
  };
  Cohort cohort;
  cohort.nvars = nvars;
  std::vector<std::vector<int>> codes(samples, std::vector<int>(nvars));
  for (int i = 0; i < samples; ++i) {
    const unsigned kind = rng() % 20;  // 0 never called, 1-11 related, else unrelated
    const std::vector<int>& source = codes[i > 0 ? rng() % i : 0];
    std::vector<int>& c = codes[i];
    for (int32_t v = 0; v < nvars;) {
      const int32_t stretch = 1 + static_cast<int32_t>(rng() % (rng() % 4 == 0 ? 4000 : 300));
      const unsigned mode = kind == 0 ? 3 : kind < 12 && i > 0 ? rng() % 3 : 2;
      for (const int32_t end = std::min(nvars, v + stretch); v < end; ++v) {
        const int s = source[v];
        if (mode == 3)
          c[v] = 3;
        else if (mode == 2 || s == 3 || unit(rng) < 0.002)
          c[v] = draw(v);
        else  // the same genotype, or one allele of it
          c[v] = mode == 0 ? s
                 : s == 1  ? static_cast<int>(rng() % 3)
                           : s / 2 + static_cast<int>(rng() % 2);
      }
    }
    cohort.rows.push_back(pack_codes(c));
  }
  cohort.ends = {0};
  for (unsigned k = 1 + rng() % 6; k > 0; --k)
    cohort.ends.push_back(static_cast<int32_t>(rng() % (nvars + 1)));
  if (rng() % 2) cohort.ends.back() = nvars;
  std::sort(cohort.ends.begin() + 1, cohort.ends.end());
  return cohort;
}

class FastTolerantScan : public ::testing::TestWithParam<ScanKernel> {
 protected:
  void SetUp() override {
    if (!scan_kernel_supported(GetParam()))
      GTEST_SKIP() << scan_kernel_name(GetParam()) << " is not offered by this processor";
  }

  void expect_same(const Cohort& cohort, const ScanLayout& layout,
                   const std::vector<std::pair<int, int>>& pairs) {
    const int32_t n = static_cast<int32_t>(pairs.size());
    std::vector<const uint8_t*> rows_a, rows_b;
    for (auto [a, b] : pairs) {
      rows_a.push_back(cohort.rows[a].data());
      rows_b.push_back(cohort.rows[b].data());
    }
    std::vector<PairScanTotals> want(n), got(n), counted(n);
    std::vector<SegmentList> want_segments(n), got_segments(n);
    const TolerantBatchScan kernel = tolerant_batch_kernel(GetParam());
    scan_tolerant_batch_ref(rows_a.data(), rows_b.data(), n, layout, want.data(),
                            want_segments.data());
    kernel(rows_a.data(), rows_b.data(), n, layout, got.data(), got_segments.data());
    kernel(rows_a.data(), rows_b.data(), n, layout, counted.data(), nullptr);
    for (int32_t i = 0; i < n; ++i) {
      ASSERT_EQ(got[i], want[i]) << "pair " << i << " of " << n;
      ASSERT_EQ(got_segments[i], want_segments[i]) << "pair " << i << " of " << n;
      ASSERT_EQ(counted[i], want[i]) << "pair " << i << " without segment lists";
    }
  }
};

TEST_P(FastTolerantScan, RandomCohortsOfEveryShapeAndBatchSize) {
  static const int32_t kThresholds[] = {-7,  -1,  0,   1,   2,   3,    9,     40,     127,
                                        128, 129, 255, 300, 700, 2000, 70000, 1 << 30};
  std::mt19937 rng(20240611);
  for (int round = 0; round < 250 && !HasFatalFailure(); ++round) {
    // Lengths around the chunk sizes and odd ones, and a few long rows.
    const int32_t nvars = round % 25 == 0 ? 20000 + static_cast<int32_t>(rng() % 9000)
                                          : 1 + static_cast<int32_t>(rng() % 1500);
    const Cohort cohort = draw_cohort(rng, nvars, 8);
    const ScanLayout layout = cohort.layout(kThresholds[rng() % 17], kThresholds[rng() % 17]);
    std::vector<std::pair<int, int>> pairs(1 + round % kMaxBatchPairs);
    for (auto& p : pairs) p = {static_cast<int>(rng() % 8), static_cast<int>(rng() % 8)};
    SCOPED_TRACE(testing::Message() << "round " << round << ", nvars " << nvars << ", T1 "
                                    << layout.ibd1_markers << ", T2 " << layout.ibd2_markers);
    expect_same(cohort, layout, pairs);
  }
}

TEST_P(FastTolerantScan, RunsLongerThanSixteenBitsAndEmptyGenomes) {
  // Identical and all-missing samples over 300,000 variants: runs of a whole
  // chromosome, far beyond any byte or 16-bit counter.
  std::mt19937 rng(99);
  Cohort cohort = draw_cohort(rng, 300001, 4);
  cohort.rows.push_back(cohort.rows[0]);
  cohort.rows.push_back(std::vector<uint8_t>(300001, 0x0f));
  struct Shape {
    std::vector<int32_t> ends;
    int32_t t1, t2;
  } shapes[] = {{{0, 150001, 300001}, 1000, 70000},
                {{0, 150001, 300001}, -1, 1 << 30},
                {{0}, -1, -1},              // no chromosome
                {{0, 1, 1, 2, 3}, -1, 0}};  // chromosomes of one variant or none
  for (const Shape& s : shapes) {
    cohort.ends = s.ends;
    SCOPED_TRACE(testing::Message() << s.ends.size() - 1 << " chromosomes, T1 " << s.t1);
    expect_same(cohort, cohort.layout(s.t1, s.t2), {{0, 4}, {5, 1}, {4, 5}, {2, 3}, {0, 1}});
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastTolerantScan,
                         ::testing::Values(ScanKernel::avx2, ScanKernel::avx512),
                         [](const ::testing::TestParamInfo<ScanKernel>& info) {
                           return std::string(scan_kernel_name(info.param));
                         });

}  // namespace
