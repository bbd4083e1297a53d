// The vector tolerant kernels against the plain one, on random cohorts made
// to hit their corners: totals field for field, segments in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ibd/pair_scan_kernels.h"
#include "tests/packed_rows.h"

namespace {

// A cohort of transposed rows, each its own allocation of exactly nvars
// bytes so that a read past a row's end is caught by the sanitizers.
struct Cohort {
  int32_t nvars = 0;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<int32_t> cumulative;  // chromosome ends, from 0

  ScanLayout layout(int32_t t1, int32_t t2) const {
    return {cumulative.data(), static_cast<int32_t>(cumulative.size()), nvars, t1, t2};
  }
};

enum class Kinship { unrelated, related, all_missing };

// Genotype codes per sample: unrelated samples from per-variant allele
// frequencies; related samples copy an earlier sample in long stretches
// (the same genotype, or one allele shared), with rare errors.
std::vector<std::vector<int>> draw_codes(std::mt19937& rng, int32_t nvars, int samples,
                                         const std::vector<Kinship>& kinds, double missing) {
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> freq(nvars);
  for (double& f : freq) f = 0.05 + 0.45 * unit(rng);
  auto draw = [&](int32_t v) {
    if (unit(rng) < missing) return 3;
    return (unit(rng) < freq[v]) + (unit(rng) < freq[v]);
  };
  std::vector<std::vector<int>> codes(samples, std::vector<int>(nvars));
  for (int i = 0; i < samples; ++i) {
    std::vector<int>& c = codes[i];
    if (kinds[i] == Kinship::all_missing) {
      std::fill(c.begin(), c.end(), 3);
    } else if (kinds[i] == Kinship::related && i > 0) {
      const std::vector<int>& source = codes[rng() % i];
      int32_t v = 0;
      while (v < nvars) {
        const int32_t stretch = 1 + static_cast<int32_t>(rng() % (rng() % 4 == 0 ? 4000 : 300));
        const int mode = static_cast<int>(rng() % 3);  // 0 copy, 1 one allele shared, 2 free
        for (int32_t end = std::min(nvars, v + stretch); v < end; ++v) {
          const int s = source[v];
          if (mode == 2 || s == 3 || unit(rng) < 0.002) {
            c[v] = draw(v);
          } else if (mode == 0) {
            c[v] = s;
          } else {
            c[v] = s == 1
                       ? static_cast<int>(rng() % 3)
                       : (s == 0 ? static_cast<int>(rng() % 2) : 1 + static_cast<int>(rng() % 2));
          }
        }
      }
    } else {
      for (int32_t v = 0; v < nvars; ++v) c[v] = draw(v);
    }
  }
  return codes;
}

// 1 to 6 chromosomes with random (often odd) ends; the last may stop short of nvars.
std::vector<int32_t> draw_chromosomes(std::mt19937& rng, int32_t nvars) {
  const int count = 1 + static_cast<int>(rng() % 6);
  std::vector<int32_t> ends;
  for (int k = 0; k < count; ++k) ends.push_back(static_cast<int32_t>(rng() % (nvars + 1)));
  if (rng() % 2) ends.back() = nvars;
  std::sort(ends.begin(), ends.end());
  ends.insert(ends.begin(), 0);
  return ends;
}

Cohort draw_cohort(std::mt19937& rng, int32_t nvars, int samples) {
  Cohort cohort;
  cohort.nvars = nvars;
  std::vector<Kinship> kinds(samples);
  for (Kinship& k : kinds) {
    const unsigned r = rng() % 20;
    k = r == 0 ? Kinship::all_missing : (r < 12 ? Kinship::related : Kinship::unrelated);
  }
  const double missing = (rng() % 3 == 0) ? 0.0 : 0.02;
  for (const std::vector<int>& c : draw_codes(rng, nvars, samples, kinds, missing))
    cohort.rows.push_back(pack_codes(c));
  cohort.cumulative = draw_chromosomes(rng, nvars);
  return cohort;
}

int32_t draw_threshold(std::mt19937& rng) {
  static const int32_t kThresholds[] = {-7,  -1,  0,   1,   2,   3,    9,     40,     127,
                                        128, 129, 255, 300, 700, 2000, 70000, 1 << 30};
  return kThresholds[rng() % (sizeof kThresholds / sizeof kThresholds[0])];
}

std::string describe(const PairScanTotals& t) {
  return "sum1 " + std::to_string(t.sum1) + " sum2 " + std::to_string(t.sum2) + " segs1 " +
         std::to_string(t.segs1) + " segs2 " + std::to_string(t.segs2) + " longest1 " +
         std::to_string(t.longest1) + " longest2 " + std::to_string(t.longest2);
}

class FastTolerantScan : public ::testing::TestWithParam<ScanKernel> {
 protected:
  void SetUp() override {
    if (!scan_kernel_supported(GetParam()))
      GTEST_SKIP() << "the " << scan_kernel_name(GetParam())
                   << " kernel is not tested: this processor does not offer it";
    kernel = tolerant_batch_kernel(GetParam());
  }

  // Scans n pairs of the cohort with both kernels and compares every field.
  void expect_same(const Cohort& cohort, const ScanLayout& layout,
                   const std::vector<std::pair<int, int>>& pairs, const std::string& what) {
    const int32_t n = static_cast<int32_t>(pairs.size());
    std::vector<const uint8_t*> rows_a(n), rows_b(n);
    for (int32_t i = 0; i < n; ++i) {
      rows_a[i] = cohort.rows[pairs[i].first].data();
      rows_b[i] = cohort.rows[pairs[i].second].data();
    }
    std::vector<PairScanTotals> want(n), got(n);
    std::vector<SegmentList> want_segments(n), got_segments(n);
    scan_tolerant_batch_ref(rows_a.data(), rows_b.data(), n, layout, want.data(),
                            want_segments.data());
    kernel(rows_a.data(), rows_b.data(), n, layout, got.data(), got_segments.data());
    for (int32_t i = 0; i < n; ++i) {
      ASSERT_EQ(describe(got[i]), describe(want[i])) << what << ", pair " << i << " of " << n;
      ASSERT_EQ(got_segments[i], want_segments[i]) << what << ", pair " << i << " of " << n;
    }
    // Without segment lists the totals stay the same.
    std::vector<PairScanTotals> counted(n);
    kernel(rows_a.data(), rows_b.data(), n, layout, counted.data(), nullptr);
    for (int32_t i = 0; i < n; ++i) ASSERT_EQ(counted[i], want[i]) << what << ", no segment lists";
  }

  TolerantBatchScan kernel = nullptr;
};

TEST_P(FastTolerantScan, RandomCohortsOfEveryShape) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 250; ++round) {
    // Lengths around the chunk sizes and odd ones, and a few long rows.
    const int32_t nvars = round % 25 == 0 ? 20000 + static_cast<int32_t>(rng() % 9000)
                                          : 1 + static_cast<int32_t>(rng() % 1500);
    const Cohort cohort = draw_cohort(rng, nvars, 8);
    const ScanLayout layout = cohort.layout(draw_threshold(rng), draw_threshold(rng));
    const int32_t n = 1 + static_cast<int32_t>(rng() % kMaxBatchPairs);
    std::vector<std::pair<int, int>> pairs(n);
    for (auto& p : pairs) p = {static_cast<int>(rng() % 8), static_cast<int>(rng() % 8)};
    expect_same(cohort, layout, pairs,
                "round " + std::to_string(round) + ", nvars " + std::to_string(nvars) + ", T1 " +
                    std::to_string(layout.ibd1_markers) + ", T2 " +
                    std::to_string(layout.ibd2_markers));
    if (HasFatalFailure()) return;
  }
}

TEST_P(FastTolerantScan, EveryBatchSizeFromOneToSixtyFour) {
  std::mt19937 rng(7);
  const Cohort cohort = draw_cohort(rng, 777, 10);
  for (int32_t n = 1; n <= kMaxBatchPairs; ++n) {
    std::vector<std::pair<int, int>> pairs(n);
    for (int32_t i = 0; i < n; ++i) pairs[i] = {i % 10, (i * 7 + 3) % 10};
    expect_same(cohort, cohort.layout(30, 20), pairs, "batch of " + std::to_string(n));
    if (HasFatalFailure()) return;
  }
}

TEST_P(FastTolerantScan, RunsLongerThanSixteenBitsAndEmptyGenomes) {
  // Identical and all-missing samples over 300,000 variants: runs of the
  // whole chromosome, far beyond any byte or 16-bit counter.
  std::mt19937 rng(99);
  Cohort cohort = draw_cohort(rng, 300001, 4);
  cohort.rows.push_back(cohort.rows[0]);
  cohort.rows.push_back(std::vector<uint8_t>(300001, 0x0f));
  cohort.cumulative = {0, 150001, 300001};
  const std::vector<std::pair<int, int>> pairs = {{0, 4}, {5, 1}, {4, 5}, {2, 3}, {0, 1}};
  expect_same(cohort, cohort.layout(1000, 70000), pairs, "long runs");
  expect_same(cohort, cohort.layout(-1, 1 << 30), pairs, "long runs, extreme thresholds");
  // No chromosome at all, and chromosomes without a whole byte.
  cohort.cumulative = {0};
  expect_same(cohort, cohort.layout(-1, -1), pairs, "no chromosome");
  cohort.cumulative = {0, 1, 1, 2, 3};
  expect_same(cohort, cohort.layout(-1, 0), pairs, "chromosomes of a variant or none");
}

TEST_P(FastTolerantScan, WorkersScanningAtOnceGetTheirOwnResults) {
  std::mt19937 rng(5);
  const Cohort cohort = draw_cohort(rng, 3001, 12);
  const ScanLayout layout = cohort.layout(60, 40);
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      std::vector<std::pair<int, int>> pairs;
      for (int i = 0; i < 40; ++i) pairs.push_back({(i + w) % 12, (i * 5 + w) % 12});
      expect_same(cohort, layout, pairs, "worker " + std::to_string(w));
    });
  }
  for (std::thread& t : workers) t.join();
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastTolerantScan,
                         ::testing::Values(ScanKernel::avx2, ScanKernel::avx512),
                         [](const ::testing::TestParamInfo<ScanKernel>& info) {
                           return std::string(scan_kernel_name(info.param));
                         });

TEST(ScanKernelChoice, BestIsTheWidestOfferedAndTheHookOverridesIt) {
  const ScanKernel best = best_scan_kernel();
  EXPECT_TRUE(scan_kernel_supported(best));
  if (scan_kernel_supported(ScanKernel::avx512)) {
    EXPECT_EQ(best, ScanKernel::avx512);
  }
  EXPECT_EQ(active_scan_kernel(), best);
  force_scan_kernel(ScanKernel::reference);
  EXPECT_EQ(active_scan_kernel(), ScanKernel::reference);
  reset_scan_kernel();
  EXPECT_EQ(active_scan_kernel(), best);
}

}  // namespace
