#include "ibd/pair_worker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ibd/analysis_driver.h"
#include "ibd/ibs_thresholds.h"
#include "ibd/output_buffer.h"
#include "ibd/transposed_matrix.h"
#include "input/genotype_store.h"
#include "input/thread_slots.h"
#include "setup/run_settings.h"
#include "tests/test_util.h"

namespace {

using Pair = std::pair<int32_t, int32_t>;
using Names = std::pair<std::string, std::string>;

std::vector<Pair> walk(int32_t samples, int32_t w, int32_t W, int32_t batch) {
  WorkerPairs deal(samples, w, W);
  std::vector<int32_t> a(batch), b(batch);
  std::vector<Pair> pairs;
  while (int32_t n = deal.next(a.data(), b.data(), batch))
    for (int32_t i = 0; i < n; ++i) pairs.push_back({a[i], b[i]});
  return pairs;
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at) ++n;
  return n;
}

// Puts a global back as it was when the test ends.
template <typename T>
struct Saved {
  explicit Saved(T& ref) : ref(ref), value(ref) {}
  ~Saved() { ref = value; }
  T& ref;
  T value;
};

}  // namespace

TEST(PairWorkerTest, DealsPairsCyclicallyByNumber) {
  EXPECT_EQ(walk(3, 0, 2, 64), (std::vector<Pair>{{0, 1}, {1, 2}}));
  EXPECT_EQ(walk(3, 1, 2, 64), (std::vector<Pair>{{0, 2}}));
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
  EXPECT_EQ(walk(100, 2, 4, 64).size(), 1237u);
  for (auto [samples, w, W] : {std::tuple{1, 0, 1}, {-1, 0, 1}, {10, 0, 0}, {10, 2, 2}})
    EXPECT_TRUE(walk(samples, w, W, 64).empty()) << samples << " " << w << "/" << W;
}

TEST(PairWorkerTest, PairIbsTableAndNameLookup) {
  uint32_t table[256];
  build_pair_ibs_table(table);
  for (int a1 = 0; a1 < 4; ++a1)
    for (int a2 = 0; a2 < 4; ++a2)
      for (int b1 = 0; b1 < 4; ++b1)
        for (int b2 = 0; b2 < 4; ++b2) {
          uint32_t expected = 0;
          for (auto [x, y] : {Pair{a1, b1}, Pair{a2, b2}})
            if (x != 3 && y != 3) expected += 1 + 16 * (std::abs(x - y) <= 1) + 256 * (x == y);
          ASSERT_EQ(table[a1 * 64 + a2 * 16 + b1 * 4 + b2], expected);
        }
  EXPECT_EQ(table[8], 2u + 16 + 256);  // 0,0 against 2,0

  char x[] = "x", y[] = "y", xy[] = "xy";
  char* names[] = {xy, x, y, x};
  EXPECT_EQ(find_string_index("x", names, 4), 1);
  EXPECT_EQ(find_string_index("y", names, 2), -1);
  EXPECT_EQ(find_string_index("xy", names, 0), -1);
}

// pair_job with the real scans over identical all-zero samples on one
// chromosome; rows are read back by their two names.
class PairJobTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sem_init(&pair_done_sem, 0, 0), 0);
    RunSettings::pair_mode = 0;
    RunSettings::report_segments = 0;
    RunSettings::scan_mode = 2;
    RunSettings::report_threshold = -999;  // a row for every pair
    IbdThresholds::ibd1_markers = IbdThresholds::ibd2_markers = 10;
    build_pair_ibs_table(pair_ibs_table);
    ibd_output.fd = open(dir_.file("ibd").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ibd_output.length = 0;
    pairs_done = 0;
    final_exit_status = 0;
  }
  void TearDown() override {
    close(ibd_output.fd);
    ibd_output.length = 0;
    final_exit_status = 0;
    sem_destroy(&pair_done_sem);
  }

  void set_samples(std::vector<std::string> names) {
    const int32_t n = static_cast<int32_t>(names.size());
    names_ = std::move(names);
    for (std::string& s : names_) pointers_.push_back(s.data());
    SampleNames::names = pointers_.data();
    SampleNames::count = n;
    GenotypeMatrix::nvars = GenotypeMatrixTransposed::nvars = 64;
    GenotypeMatrixTransposed::npeople = n + 1;
    matrix_.assign(static_cast<size_t>(n + 1) * 64, 0);
    for (int32_t i = 0; i <= n; ++i) rows_.push_back(matrix_.data() + i * 64);
    GenotypeMatrixTransposed::data = matrix_.data();
    GenotypeMatrixTransposed::rows = rows_.data();
    ChromosomeTable::count = 2;
    ChromosomeTable::cumulative.assign(256, 0);
    ChromosomeTable::cumulative[1] = 64;
  }

  std::vector<Names> ibd_rows() {
    std::istringstream text(read_file(dir_.file("ibd")) +
                            std::string(ibd_output.data, ibd_output.length));
    std::vector<Names> rows;
    for (std::string line; std::getline(text, line);) {
      std::istringstream fields(line);
      rows.emplace_back();
      fields >> rows.back().first >> rows.back().second;
    }
    return rows;
  }

  TempDir dir_;
  Saved<char**> names_saved_{SampleNames::names};
  Saved<int32_t> count_saved_{SampleNames::count}, nvars_saved_{GenotypeMatrix::nvars},
      chromosomes_saved_{ChromosomeTable::count}, fd_saved_{ibd_output.fd},
      pair_mode_saved_{RunSettings::pair_mode}, tnvars_saved_{GenotypeMatrixTransposed::nvars},
      tpeople_saved_{GenotypeMatrixTransposed::npeople};
  Saved<std::vector<int32_t>> cumulative_saved_{ChromosomeTable::cumulative};
  Saved<uint8_t*> tdata_saved_{GenotypeMatrixTransposed::data};
  Saved<uint8_t**> trows_saved_{GenotypeMatrixTransposed::rows};
  std::vector<std::string> names_;
  std::vector<char*> pointers_;
  std::vector<uint8_t> matrix_;
  std::vector<uint8_t*> rows_;
};

TEST_F(PairJobTest, ConcurrentWorkersScanEveryPairOnceWithProgress) {
  std::vector<std::string> names;
  for (int i = 0; i < 91; ++i) names.push_back("id" + std::to_string(i));
  set_samples(names);  // 4095 pairs: 2048 and 2047, one progress line per worker
  std::vector<std::unique_ptr<ThreadSlot>> slots;
  std::vector<std::thread> threads;
  testing::internal::CaptureStdout();
  for (int32_t w = 0; w < 2; ++w) {
    slots.push_back(std::make_unique<ThreadSlot>());
    threads.emplace_back([slot = slots.back().get(), w] {
      Job job;
      job.worker_index = w;
      job.worker_count = 2;
      pair_job(slot, &job);
    });
  }
  // As the driver does: after one wait per worker every row is in ibd_output.
  for (int32_t w = 0; w < 2; ++w) ASSERT_EQ(sem_wait(&pair_done_sem), 0);
  const std::vector<Names> rows = ibd_rows();
  for (std::thread& t : threads) t.join();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(occurrences(out, " -  Compute IBD by IBS: (cpu=2/2) Nind = 91 Nvar = 64\n"), 1u);
  EXPECT_EQ(occurrences(out, "% completed - Pairs/sec = "), 2u) << out;
  EXPECT_EQ(occurrences(out, "\n"), 4u) << out;
  EXPECT_EQ(std::set<Names>(rows.begin(), rows.end()).size(), 4095u);
  EXPECT_EQ(rows.size(), 4095u);
  EXPECT_EQ(pairs_done.load(), 4095);
  for (const auto& slot : slots) EXPECT_EQ(slot->done.load(), 1);
}

TEST_F(PairJobTest, ProgressCountGoesOnPastTheInt32Range) {
  // Beyond 65536 samples the pairs outnumber int32; the percentage stays positive.
  std::vector<std::string> names;
  for (int i = 0; i < 64; ++i) names.push_back("id" + std::to_string(i));
  set_samples(names);  // 2016 pairs: one progress line
  const int64_t before = INT32_MAX - 1000;
  pairs_done = before;
  ThreadSlot slot;
  Job job;
  job.worker_count = 1;
  testing::internal::CaptureStdout();
  pair_job(&slot, &job);
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(sem_trywait(&pair_done_sem), 0);
  EXPECT_EQ(pairs_done.load(), before + 2016);
  EXPECT_EQ(occurrences(out, " - 106522055.9% completed"), 1u) << out;
}

TEST_F(PairJobTest, NamedPair) {
  set_samples({"x", "y", "z", "x"});
  RunSettings::pair_mode = 1;
  std::string err;
  // Returns what follows the start line; the job must post once and mark its slot done.
  auto run_pair = [&](const char* a, const char* b) {
    snprintf(RunSettings::pair_name1, RunSettings::kTextSize, "%s", a);
    snprintf(RunSettings::pair_name2, RunSettings::kTextSize, "%s", b);
    ThreadSlot slot;
    Job job;
    job.worker_count = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    pair_job(&slot, &job);
    err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(slot.done.load(), 1);
    EXPECT_EQ(sem_trywait(&pair_done_sem), 0);
    EXPECT_EQ(sem_trywait(&pair_done_sem), -1);
    return out.substr(out.find('\n') + 1);
  };
  EXPECT_EQ(run_pair("z", "x"), "Running pair 2 0\n");  // first occurrence
  EXPECT_EQ(run_pair("y", "y"), "Running pair 1 1\n");
  EXPECT_EQ(final_exit_status.load(), 0);

  // A name not among the samples: nothing scanned, the run fails.
  EXPECT_EQ(run_pair("x", "nobody"), "Running pair 0 -1\n");
  EXPECT_EQ(err,
            "Error: --pair sample \"nobody\" is not among the 4 sample names of the input; no pair "
            "scanned\n");
  EXPECT_EQ(final_exit_status.load(), 1);
  run_pair("ghost", "nobody");
  EXPECT_EQ(occurrences(err, "Error: --pair"), 2u);
  EXPECT_EQ(ibd_rows(), (std::vector<Names>{{"z", "x"}, {"y", "y"}}));
  EXPECT_EQ(pairs_done.load(), 0);
}
