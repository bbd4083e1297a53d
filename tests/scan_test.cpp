// The pair scans: the plain ones on hand-built rows, the vector tolerant
// kernels against the plain one on random cohorts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "ibd/pair_scan_kernels.h"
#include "tests/packed_rows.h"

namespace {

// Sample a is all 0; sample b is 0 except at the listed variants.
struct Case {
  const char* what;
  int mode;  // 2 tolerant, 1 merging, 0 both (rows that read the same in both)
  int32_t nvars;
  std::vector<int32_t> ends;  // chromosome ends, from 0
  int32_t t1, t2;
  std::vector<int> opposite, one_apart;  // variants where b is 2 (IBS0) or 1 (IBS1)
  SegmentList want;
  int32_t longest1, longest2;
};

void expect_scans(const Case& c) {
  std::vector<int> b(c.nvars, 0);
  for (int v : c.opposite) b[v] = 2;
  for (int v : c.one_apart) b[v] = 1;
  const auto row_a = pack_codes(std::vector<int>(c.nvars, 0)), row_b = pack_codes(b);
  const ScanLayout layout{c.ends.data(), static_cast<int32_t>(c.ends.size()), c.nvars, c.t1, c.t2};
  // A run of r variants closed at P is the segment P - r + 2 .. P - 2.
  PairScanTotals want{0, 0, 0, 0, c.longest1, c.longest2};
  for (const IbdSegment& s : c.want) {
    (s.type == 1 ? want.sum1 : want.sum2) += s.end - s.start + 4;
    (s.type == 1 ? want.segs1 : want.segs2) += 1;
  }
  for (int mode : {1, 2}) {
    if (c.mode + mode == 3) continue;
    SegmentList got;
    const auto scan = mode == 1 ? scan_merging_ref : scan_tolerant_ref;
    EXPECT_EQ(scan(row_a.data(), row_b.data(), layout, &got), want) << c.what << ", mode " << mode;
    EXPECT_EQ(got, c.want) << c.what << ", mode " << mode;
  }
}

TEST(PlainScans, HandBuiltRows) {
  // clang-format off
  const Case cases[] = {
      {"run equal to T1", 0, 40, {0, 40}, 40, 39, {}, {}, {{2, 1, 2, 38}}, 40, 40},
      // IBS0 on bytes 50 (debt 70, paid back by 40 IBS2 bytes and 30 IBS1
      // bytes), 121, 122 (70, 139), 169, 170 (162, 231: not past 231), 216
      // (255: the run ends), 250 (a fresh 70), 281, 282, 283 (40 left: 109,
      // 178, 247).
      {"IBS1 penalty", 2, 1200, {0, 1200}, 10, 100000,
       {100, 242, 244, 338, 340, 432, 500, 562, 564, 566},
       {120, 124, 128, 132, 136, 140, 144, 148, 152, 156, 160, 164, 168, 172, 176, 180, 184, 188,
        192, 196, 200, 204, 208, 212, 216, 220, 224, 228, 232, 236},
       {{1, 1, 12, 430}, {1, 1, 442, 564}, {1, 1, 570, 1198}}, 632, 632},
      // IBS2 breaks on second variants (t2 = 1) every 30 bytes: the run
      // outlives four and ends at the fifth; the count starts afresh.
      {"fifth IBS2 break", 2, 400, {0, 400}, 1000, 10, {}, {41, 101, 161, 221, 281, 341},
       {{2, 1, 5, 278}, {2, 1, 285, 398}}, 400, 277},
      // Merging IBS1 runs end at every break, on either variant of a byte;
      // under a negative threshold even an empty run is a segment.
      {"merging, T1 -5", 1, 60, {0, 60}, -5, 1000, {20, 22, 41}, {},
       {{1, 1, 2, 18}, {1, 1, 24, 20}, {1, 1, 25, 38}, {1, 1, 44, 58}}, 20, 20},
      // Runs stop at chromosome ends; the odd last variant is not scanned.
      {"odd last variant", 0, 101, {0, 50, 101}, 10, 10, {}, {},
       {{1, 1, 2, 48}, {2, 1, 2, 48}, {1, 2, 52, 98}, {2, 2, 52, 98}}, 50, 50},
      // Without a whole byte a chromosome still closes (empty) runs.
      {"one-variant chromosome", 0, 20, {0, 18, 19, 20}, -1, -1, {}, {},
       {{1, 1, 2, 16}, {2, 1, 2, 16}, {1, 2, 20, 16}, {2, 2, 20, 16}, {1, 3, 20, 18},
        {2, 3, 20, 18}}, 18, 18},
  };
  // Merging with T2 106 (quarter 26, half 53): IBS2 runs of x and r variants,
  // one break apart, join into x + r + 1 when x > 26 and (r > 53 or (r > 26
  // and x > 53)). A run of exactly T2 is kept for joining; a longer one closes.
  // The second break's byte is the last.
  const std::tuple<int, int, bool> joins[] = {
      {26, 106, false}, {27, 80, true},  {53, 54, true},   {54, 53, true},
      {53, 53, false},  {106, 26, false}, {106, 27, true}, {108, 27, false}};
  for (const Case& c : cases) expect_scans(c);
  for (const auto& [x, r, joined] : joins) {
    const int32_t second = x + 2 - x % 2 + r;
    const int32_t n = second + 2 - second % 2;
    SegmentList want;
    if (joined) want = {{2, 1, n - x - r + 1, n - 2}};
    if (x > 106) want = {{2, 1, 2, x - 2}};
    SCOPED_TRACE(testing::Message() << "runs " << x << " and " << r);
    expect_scans({"joined", 1, n, {0, n}, 1000, 106, {}, {x, second}, want, n,
                  joined ? x + r + 1 : std::max(x, r)});
  }
  // clang-format on
}

TEST(PlainScans, StrictScanRunsAcrossChromosomesAndLeavesTheOddLastVariantOut) {
  const auto same = pack_codes(std::vector<int>(101, 1));
  const int32_t ends[] = {0, 50, 101};
  EXPECT_EQ(scan_strict_ref(same.data(), same.data(), {ends, 3, 101, 10, 10}),
            (PairScanTotals{100, 100, 1, 1, 100, 100}));
  // IBS0 on variant 31 ends both runs, 31 variants long; variant 61, one
  // apart, ends an IBS2 run of 29.
  std::vector<int> b(100, 0);
  b[31] = 2;
  b[61] = 1;
  const auto zeros = pack_codes(std::vector<int>(100, 0)), row_b = pack_codes(b);
  EXPECT_EQ(scan_strict_ref(zeros.data(), row_b.data(), {ends, 3, 100, 31, 30}),
            (PairScanTotals{68, 69, 1, 2, 68, 38}));
}

TEST(ScanKernelChoice, TheWidestOfferedUnlessOneIsForced) {
  const ScanKernel best = best_scan_kernel();
  EXPECT_EQ(best, scan_kernel_supported(ScanKernel::avx512) ? ScanKernel::avx512
                  : scan_kernel_supported(ScanKernel::avx2) ? ScanKernel::avx2
                                                            : ScanKernel::reference);
  force_scan_kernel(ScanKernel::reference);
  EXPECT_EQ(active_scan_kernel(), ScanKernel::reference);
  reset_scan_kernel();
  EXPECT_EQ(active_scan_kernel(), best);
}

// Rows of samples that copy an earlier sample (or, copying themselves, nobody)
// in stretches: the genotype, one allele of it, fresh codes or missing ones,
// with rare errors. Each row is its own allocation of exactly nvars bytes, so
// that a read past its end is caught by the sanitizers.
std::vector<std::vector<uint8_t>> draw_rows(std::mt19937& rng, int32_t nvars, int samples) {
  std::vector<std::vector<int>> codes(samples, std::vector<int>(nvars, 3));
  std::vector<std::vector<uint8_t>> rows;
  for (int i = 0; i < samples; ++i) {
    const std::vector<int>& source = codes[rng() % (i + 1)];
    for (int32_t v = 0; v < nvars;) {
      const unsigned how = rng() % 8;  // 0-2 genotype, 3-5 one allele, 6 fresh, 7 missing
      const int32_t end =
          std::min(nvars, v + 1 + static_cast<int32_t>(rng() % (rng() % 4 ? 300 : 4000)));
      for (; v < end; ++v) {
        const bool fresh = how == 6 || source[v] == 3 || rng() % 500 == 0;
        const int s = fresh ? static_cast<int>(rng() % 2 + rng() % 2) : source[v];
        const int allele =
            s == 1 ? static_cast<int>(rng() % 3) : s / 2 + static_cast<int>(rng() % 2);
        codes[i][v] = how == 7 || rng() % 64 == 0 ? 3 : how < 3 || fresh ? s : allele;
      }
    }
    rows.push_back(pack_codes(codes[i]));
  }
  return rows;
}

// Rows of random lengths up to 1500 variants, across many chunk ends, a few
// long ones (and one with whole-chromosome runs of a sample with itself far
// beyond 16 bits), 0 to 5
// chromosomes with random (often odd) ends, thresholds around the byte and
// 16-bit edges and batches of 1 to 64 pairs: totals field for field and
// segments in order, with and without segment lists.
void expect_same_as_plain_kernel(ScanKernel fast) {
  if (!scan_kernel_supported(fast))
    GTEST_SKIP() << scan_kernel_name(fast) << " is not offered by this processor";
  static const int32_t kThresholds[] = {-7,  -1,  0,   1,   2,   3,    9,     40,     127,
                                        128, 129, 255, 300, 700, 2000, 70000, 1 << 30};
  const TolerantBatchScan kernel = tolerant_batch_kernel(fast);
  std::mt19937 rng(20240611);
  for (int round = 0; round < 250 && !testing::Test::HasFatalFailure(); ++round) {
    const int32_t nvars = round == 0        ? 300001
                          : round % 25 == 0 ? 20000 + static_cast<int32_t>(rng() % 9000)
                                            : 1 + static_cast<int32_t>(rng() % 1500);
    const auto rows = draw_rows(rng, nvars, 8);
    std::vector<int32_t> ends = {0};
    for (unsigned k = rng() % 6; k > 0; --k) ends.push_back(static_cast<int32_t>(rng() % nvars));
    if (rng() % 2) ends.back() = nvars;
    std::sort(ends.begin(), ends.end());
    const ScanLayout layout{ends.data(), static_cast<int32_t>(ends.size()), nvars,
                            kThresholds[rng() % 17], kThresholds[rng() % 17]};
    const int32_t n = kMaxBatchPairs - round % kMaxBatchPairs;
    std::vector<const uint8_t*> rows_a, rows_b;
    for (int32_t i = 0; i < n; ++i) {
      rows_a.push_back(rows[rng() % 8].data());
      rows_b.push_back(rows[rng() % 8].data());
    }
    std::vector<PairScanTotals> want(n), got(n), counted(n);
    std::vector<SegmentList> want_segments(n), got_segments(n);
    scan_tolerant_batch_ref(rows_a.data(), rows_b.data(), n, layout, want.data(),
                            want_segments.data());
    kernel(rows_a.data(), rows_b.data(), n, layout, got.data(), got_segments.data());
    kernel(rows_a.data(), rows_b.data(), n, layout, counted.data(), nullptr);
    SCOPED_TRACE(testing::Message() << "round " << round << ", nvars " << nvars << ", T1 "
                                    << layout.ibd1_markers << ", T2 " << layout.ibd2_markers);
    ASSERT_EQ(got, want);
    ASSERT_EQ(got_segments, want_segments);
    ASSERT_EQ(counted, want);
  }
}

TEST(FastTolerantScan, Avx2MatchesThePlainKernel) { expect_same_as_plain_kernel(ScanKernel::avx2); }

TEST(FastTolerantScan, Avx512MatchesThePlainKernel) {
  expect_same_as_plain_kernel(ScanKernel::avx512);
}

}  // namespace
