// The pair tables, and the plain pair scans on hand-built transposed rows:
// the rules that the four-sample end-to-end run does not reach, one case each.
#include "ibd/pair_scan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "ibd/pair_scan_kernels.h"
#include "ibd/pair_worker.h"
#include "tests/packed_rows.h"

namespace {

TEST(PairTables, EveryEntryFollowsTheMatchRules) {
  uint32_t counts[256];
  build_pair_ibs_table(counts);
  auto ibs2 = [](int x, int y) { return x == y || x == 3 || y == 3; };
  auto ibs1 = [](int x, int y) { return std::abs(x - y) <= 1 || x == 3 || y == 3; };
  // Index 64 a1 + 16 a2 + 4 b1 + b2: sample a's codes of the two variants, then sample b's.
  for (int a1 = 0; a1 < 4; ++a1)
    for (int a2 = 0; a2 < 4; ++a2)
      for (int b1 = 0; b1 < 4; ++b1)
        for (int b2 = 0; b2 < 4; ++b2) {
          const int i = a1 * 64 + a2 * 16 + b1 * 4 + b2;
          uint32_t expected = 0;
          for (auto [x, y] : {std::pair{a1, b1}, std::pair{a2, b2}})
            if (x != 3 && y != 3) expected += 1 + 16 * (std::abs(x - y) <= 1) + 256 * (x == y);
          ASSERT_EQ(counts[i], expected) << i;
          ASSERT_EQ(ibs2_run_table[i], ibs2(a1, b1) ? 1 + ibs2(a2, b2) : 0) << i;
          ASSERT_EQ(ibs1_run_table[i], ibs1(a1, b1) ? 1 + ibs1(a2, b2) : 0) << i;
        }
}

std::vector<int> every(int from, int to, int step) {
  std::vector<int> v;
  for (int x = from; x <= to; x += step) v.push_back(x);
  return v;
}

// Sample a is all 0; sample b is 0 except at the listed variants.
struct Case {
  const char* what;
  bool merging;
  int32_t nvars;
  std::vector<int32_t> ends;  // chromosome ends, from 0
  int32_t t1, t2;
  std::vector<int> opposite, one_apart;  // variants where b is 2 (IBS0) or 1 (IBS1)
  SegmentList want;
};

TEST(PlainScans, HandBuiltRows) {
  // clang-format off
  const std::vector<Case> cases = {
      // Second variants of bytes 20, 50, 80 and 110 (t2 = 1): the IBS2 run
      // outlives four breaks and ends at the fifth (byte 140) at 136 * 2 + 5.
      {"four IBS2 breaks", false, 400, {0, 400}, 1000, 10, {}, {41, 101, 161, 221},
       {{2, 1, 6, 398}}},
      {"fifth IBS2 break", false, 400, {0, 400}, 1000, 10, {}, {41, 101, 161, 221, 281},
       {{2, 1, 5, 278}, {2, 1, 284, 398}}},
      // IBS1 breaks cost 70, 139, 208, 277: the fourth in a row ends the run.
      {"three IBS1 breaks", false, 400, {0, 400}, 10, 100000, {200, 202, 204}, {},
       {{1, 1, 8, 398}}},
      {"four IBS1 breaks", false, 400, {0, 400}, 10, 100000, {200, 202, 204, 206}, {},
       {{1, 1, 8, 204}, {1, 1, 210, 398}}},
      // Seventy clean bytes pay a lone break back; thirty leave a debt of 40.
      {"penalty paid back", false, 400, {0, 400}, 10, 100000, {100, 242, 244, 246}, {},
       {{1, 1, 10, 398}}},
      {"penalty left", false, 400, {0, 400}, 10, 100000, {100, 162, 164, 166}, {},
       {{1, 1, 8, 164}, {1, 1, 170, 398}}},
      // 70, 139, then 46 clean bytes, 162, 231: not past 231; 45 clean bytes give 232.
      {"penalty 231", false, 400, {0, 400}, 10, 100000, {100, 102, 196, 198}, {},
       {{1, 1, 10, 398}}},
      {"penalty 232", false, 400, {0, 400}, 10, 100000, {100, 102, 194, 196}, {},
       {{1, 1, 8, 194}, {1, 1, 200, 398}}},
      // Bytes that break IBS2 but not IBS1 pay the penalty back too.
      {"paid back by IBS2 breaks", false, 400, {0, 400}, 10, 100000, {100, 242, 244, 246},
       every(120, 236, 4), {{1, 1, 10, 398}}},
      // Merging, quarter 25 and half 50: IBS2 runs of 30 and 60 join into 91.
      {"30 + 60 merged", true, 140, {0, 140}, 1000, 100, {}, {30, 92}, {{2, 1, 5, 138}}},
      // 20 is too short: the 60 is kept in its place and joins the 30 after it.
      {"60 + 30 merged", true, 140, {0, 140}, 1000, 100, {}, {20, 82, 114}, {{2, 1, 27, 138}}},
      {"nothing merged", true, 140, {0, 140}, 1000, 100, {}, {20, 42, 114}, {}},
      // Merging IBS1 runs end at every break, even below a threshold of -3.
      {"merging, T1 -5", true, 60, {0, 60}, -5, 1000, {20, 22}, {},
       {{1, 1, 2, 18}, {1, 1, 24, 20}, {1, 1, 26, 58}}},
      // Runs stop at chromosome ends; the odd last variant is not scanned.
      {"odd last variant", false, 101, {0, 50, 101}, 10, 10, {}, {},
       {{1, 1, 2, 48}, {2, 1, 2, 48}, {1, 2, 52, 98}, {2, 2, 52, 98}}},
      // Variant 50 ends chromosome 1 but shares byte 25 with chromosome 2.
      {"shared byte", false, 100, {0, 51, 100}, 10, 10, {50}, {},
       {{1, 1, 2, 48}, {2, 1, 2, 48}, {1, 2, 54, 98}, {2, 2, 54, 98}}},
      // Without a whole byte a chromosome still closes (empty) runs.
      {"one-variant chromosome", false, 20, {0, 18, 19, 20}, -1, -1, {}, {},
       {{1, 1, 2, 16}, {2, 1, 2, 16}, {1, 2, 20, 16}, {2, 2, 20, 16}, {1, 3, 20, 18},
        {2, 3, 20, 18}}},
      {"no chromosome", false, 20, {0}, -1, -1, {}, {}, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<int> b(c.nvars, 0);
    for (int v : c.opposite) b[v] = 2;
    for (int v : c.one_apart) b[v] = 1;
    const auto row_a = pack_codes(std::vector<int>(c.nvars, 0)), row_b = pack_codes(b);
    const ScanLayout layout{c.ends.data(), static_cast<int32_t>(c.ends.size()), c.nvars, c.t1,
                            c.t2};
    SegmentList got;
    (c.merging ? scan_merging_ref : scan_tolerant_ref)(row_a.data(), row_b.data(), layout, &got);
    EXPECT_EQ(got, c.want) << c.what;
  }
  // The strict scan runs across chromosomes, and leaves the odd last variant out too.
  const auto same = pack_codes(std::vector<int>(101, 1));
  const int32_t ends[] = {0, 50, 101};
  EXPECT_EQ(scan_strict_ref(same.data(), same.data(), {ends, 3, 101, 10, 10}),
            (PairScanTotals{100, 100, 1, 1, 100, 100}));
}

TEST(ScanKernelChoice, BestIsTheWidestOfferedAndTheHookOverridesIt) {
  const ScanKernel best = best_scan_kernel();
  EXPECT_TRUE(scan_kernel_supported(best));
  EXPECT_TRUE(best == ScanKernel::avx512 || !scan_kernel_supported(ScanKernel::avx512));
  EXPECT_EQ(active_scan_kernel(), best);
  force_scan_kernel(ScanKernel::reference);  // what the reference binary relies on
  EXPECT_EQ(active_scan_kernel(), ScanKernel::reference);
  reset_scan_kernel();
  EXPECT_EQ(active_scan_kernel(), best);
}

}  // namespace
