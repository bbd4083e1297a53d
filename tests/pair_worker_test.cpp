#include "ibd/pair_worker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ibd/transposed_matrix.h"
#include "input/genotype_store.h"
#include "input/thread_slots.h"
#include "setup/run_settings.h"

namespace {

using Pair = std::pair<int32_t, int32_t>;

std::vector<Pair> walk(int32_t samples, int32_t w, int32_t W, int32_t batch) {
  WorkerPairs deal(samples, w, W);
  std::vector<int32_t> a(batch), b(batch);
  std::vector<Pair> pairs;
  while (int32_t n = deal.next(a.data(), b.data(), batch))
    for (int32_t i = 0; i < n; ++i) pairs.push_back({a[i], b[i]});
  return pairs;
}

TEST(PairWorker, DealsPairsCyclicallyByNumber) {
  for (int32_t samples : {2, 7, 41})
    for (int32_t W : {1, 3, 30})
      for (int32_t w = 0; w < W; ++w) {
        std::vector<Pair> expected;  // number the pairs column by column, keep w mod W
        for (int32_t j = 0, k = 0; j < samples; ++j)
          for (int32_t i = 0; i < j; ++i, ++k)
            if (k % W == w) expected.push_back({i, j});
        for (int32_t batch : {1, 3, 64})
          ASSERT_EQ(walk(samples, w, W, batch), expected) << samples << " " << w << "/" << W;
      }
  for (auto [samples, w, W] : {std::tuple{1, 0, 1}, {-1, 0, 1}, {10, 0, 0}, {10, 2, 2}})
    EXPECT_TRUE(walk(samples, w, W, 64).empty()) << samples << " " << w << "/" << W;
}

TEST(PairWorker, ProgressCountGoesOnPastTheInt32Range) {
  // 64 samples, 2016 pairs: one progress line. Past 65536 samples the pairs
  // outnumber int32; the percentage stays positive. No pair reaches the
  // report threshold, so nothing is written.
  std::vector<uint8_t> matrix(65 * 2, 0);
  std::vector<uint8_t*> rows;
  for (int32_t i = 0; i <= 64; ++i) rows.push_back(matrix.data() + i * 2);
  SampleNames::count = 64;
  GenotypeMatrix::nvars = GenotypeMatrixTransposed::nvars = 2;
  GenotypeMatrixTransposed::rows = rows.data();
  ChromosomeTable::count = 2;
  ChromosomeTable::cumulative.assign(256, 0);
  ChromosomeTable::cumulative[1] = 2;
  RunSettings::pair_mode = 0;
  RunSettings::report_threshold = 2;
  ASSERT_EQ(sem_init(&pair_done_sem, 0, 0), 0);
  const int64_t before = INT32_MAX - 1000;
  pairs_done = before;
  ThreadSlot slot;
  Job job;
  job.worker_count = 1;
  testing::internal::CaptureStdout();
  pair_job(&slot, &job);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(sem_trywait(&pair_done_sem), 0);
  EXPECT_EQ(slot.done.load(), 1);
  EXPECT_EQ(pairs_done.load(), before + 2016);
  EXPECT_NE(out.find("\n - 106522055.9% completed - Pairs/sec = "), std::string::npos) << out;
  sem_destroy(&pair_done_sem);
}

}  // namespace
