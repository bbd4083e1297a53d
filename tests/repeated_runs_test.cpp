// Whole runs whose outcome varies with thread timing, repeated and checked for
// what must not vary, and the cohort generator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

// Few and many workers with blocks of 1 kB, so that the block ring wraps and
// waits, lines run across many blocks and the workers contend for the report
// buffers. Every run must end in time with the reports of a single-worker run.
TEST(RepeatedRuns, SmallBlocksAndManyWorkersGiveTheSameReports) {
  TempDir dir;
  // 60 samples (sample s of variant v is called 0/0, 0/1 or 1/1 as (s + v) % 3
  // is 0, 1 or 2), 1500 variants, a new chromosome every 500; every 25th line
  // carries a 6 kB INFO column and so spans at least six blocks.
  auto args = [](const std::string& out, const char* cpu) {
    return std::vector<std::string>{"--vcf", PALVANE_TEST_DATA "/inputs/ManyWorkers.vcf.gz",
                                    "--segments", "--ibs1markers", "200",
                                    "--ibs2markers", "100", "--out", out, "--cpu", cpu,
                                    "--buffer", "1024"};
  };
  ASSERT_EQ(run_program(PALVANE_BIN, args("one", "1"), dir.path).status, 0);
  const auto rows = sorted_lines(read_file(dir.file("one.ibd")));
  const auto segments = sorted_lines(read_file(dir.file("one.segments")));
  ASSERT_EQ(rows.size(), 1u + 60u * 59u / 2u);
  ASSERT_GT(segments.size(), 500u);
  for (int round = 0; round < 20; ++round) {
    for (const char* cpu : {"1", "4", "30"}) {
      SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", --cpu " + cpu);
      const RunResult run = run_program(PALVANE_BIN, args("run", cpu), dir.path, {}, 30);
      ASSERT_EQ(run.status, 0) << (run.status == -1 ? "hung: " : "") << run.err;
      ASSERT_EQ(sorted_lines(read_file(dir.file("run.ibd"))), rows);
      ASSERT_EQ(sorted_lines(read_file(dir.file("run.segments"))), segments);
    }
  }
}

// The generator writes the same bytes whatever its threads.
TEST(GeneratedCohort, SameArgumentsGiveTheSameBytes) {
  TempDir dir;
  for (const char* threads : {"1", "4"}) {
    const RunResult made = run_program(PALVANE_SIMULATE_BIN,
                                       {"--samples", "60", "--variants", "3000", "--threads",
                                        threads, "--out", std::string("c") + threads + ".vcf.gz"},
                                       dir.path);
    ASSERT_EQ(made.status, 0) << made.err;
  }
  EXPECT_GT(read_file(dir.file("c1.vcf.gz")).size(), 10000u);
  EXPECT_TRUE(read_file(dir.file("c1.vcf.gz")) == read_file(dir.file("c4.vcf.gz")));
}

}  // namespace
