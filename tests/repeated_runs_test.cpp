// Whole runs whose outcome varies with thread timing, repeated and checked for
// what must not vary, and runs on cohorts from the generator with known relatives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

RunResult run_palvane(const TempDir& dir, std::vector<std::string> args, int timeout = 120,
                      const char* program = PALVANE_BIN) {
  // ThreadSanitizer's runtime waits a second at exit while other threads
  // still run, and palvane's pair workers always do.
  const char* tsan = getenv("TSAN_OPTIONS");
  return run_program(program, args, dir.path,
                     {std::string("TSAN_OPTIONS=") + (tsan ? tsan : "") + ":atexit_sleep_ms=0"},
                     timeout);
}

// Few and many workers with blocks of 1 kB, so that the block ring wraps and
// waits, lines run across many blocks and the workers contend for the report
// buffers. Every run must end in time with the reports of a single-worker run.
TEST(RepeatedRuns, SmallBlocksAndManyWorkersGiveTheSameReports) {
  TempDir dir;
  // Every 25th line carries a 6 kB INFO column and so spans at least six blocks.
  write_file(dir.file("in"), cohort_vcf(60, 1500, [](int v, std::vector<std::string>& c) {
               if (v % 25 == 7) c[7] = std::string(6000, 'i');
               if (v % 500 == 499) c[0] = std::to_string(v / 500 + 2);  // chromosome changes
             }));
  auto args = [](const std::string& out, const char* cpu) {
    return std::vector<std::string>{"--vcf", "in", "--segments", "--ibs1markers", "200",
                                    "--ibs2markers", "100", "--out", out, "--cpu", cpu,
                                    "--buffer", "1024"};
  };
  ASSERT_EQ(run_palvane(dir, args("one", "1")).status, 0);
  const auto rows = sorted_lines(read_file(dir.file("one.ibd")));
  const auto segments = sorted_lines(read_file(dir.file("one.segments")));
  ASSERT_EQ(rows.size(), 1u + 60u * 59u / 2u);
  ASSERT_GT(segments.size(), 500u);
  for (int round = 0; round < 20; ++round) {
    for (const char* cpu : {"1", "4", "30"}) {
      SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", --cpu " + cpu);
      const RunResult run = run_palvane(dir, args("run", cpu), 30);
      ASSERT_EQ(run.status, 0) << (run.status == -1 ? "hung: " : "") << run.err;
      ASSERT_EQ(sorted_lines(read_file(dir.file("run.ibd"))), rows);
      ASSERT_EQ(sorted_lines(read_file(dir.file("run.segments"))), segments);
    }
  }
}

// The generator writes the same bytes whatever its threads, and the plain
// reference scan writes the fast scan's reports byte for byte on its cohort,
// also with small thresholds that make many segments.
TEST(GeneratedCohort, ReportsAreTheSameWhateverTheScanKernel) {
  TempDir dir;
  for (const char* threads : {"1", "4"}) {
    const RunResult made = run_program(PALVANE_SIMULATE_BIN,
                                       {"--samples", "120", "--variants", "20000", "--threads",
                                        threads, "--out", std::string("c") + threads + ".vcf.gz",
                                        "--truth", "c.truth"},
                                       dir.path);
    ASSERT_EQ(made.status, 0) << made.err;
  }
  ASSERT_TRUE(read_file(dir.file("c1.vcf.gz")) == read_file(dir.file("c4.vcf.gz")));
  // Estimated thresholds, and small ones.
  for (const auto& thresholds : {std::vector<std::string>{},
                                 {"--ibs1markers", "100", "--ibs2markers", "30"}}) {
    std::vector<std::string> args = {"--vcf", "c1.vcf.gz", "--out", "run", "--segments",
                                     "--cpu", "1"};
    args.insert(args.end(), thresholds.begin(), thresholds.end());
    std::string reports[2];
    for (int k = 0; k < 2; ++k) {
      const RunResult run = run_palvane(dir, args, 120, k ? PALVANE_REFERENCE_BIN : PALVANE_BIN);
      ASSERT_EQ(run.status, 0) << run.err;
      reports[k] = read_file(dir.file("run.ibd")) + read_file(dir.file("run.segments"));
    }
    EXPECT_TRUE(reports[0] == reports[1]) << "the reference scan differs " << thresholds.size();
  }
}

}  // namespace
