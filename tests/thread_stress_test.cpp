// Whole runs repeated with few and many workers and with blocks of 1 KB, so
// that the block ring wraps and waits, lines run across many blocks and the
// workers contend for the report buffers. Every run must end in time (a hang
// is a failure) with the rows and segments of a plain single-worker run.
// Under ThreadSanitizer any race also fails the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/text_lines.h"
#include "tests/vcf_text.h"

namespace {

// ThreadSanitizer's runtime waits a second at exit while other threads still
// run, and palvane's pair workers always do: 61 runs need no such grace.
void skip_exit_grace_of_thread_sanitizer() {
  const char* options = getenv("TSAN_OPTIONS");
  setenv("TSAN_OPTIONS", (std::string(options ? options : "") + ":atexit_sleep_ms=0").c_str(), 1);
}

TEST(ThreadStress, RepeatedRunsWithSmallBlocksGiveTheSameReports) {
  skip_exit_grace_of_thread_sanitizer();
  TempDir dir;
  // Samples s and s + 3 agree, so related pairs give segments. Every 25th
  // line carries a 6 kB INFO column and so spans at least six blocks.
  Cohort cohort = edited(60, 1500, [](int v, std::vector<std::string>& columns) {
    if (v % 25 == 7) columns[7] = std::string(6000, 'i');
    if (v % 500 == 499) columns[0] = std::to_string(v / 500 + 2);  // chromosome changes
  });
  write_file(dir.file("in"), cohort.text());
  const std::vector<std::string> common = {"--vcf", "in", "--segments", "--ibs1markers", "200",
                                           "--ibs2markers", "100"};
  auto args = [&](const std::string& out, std::vector<std::string> more) {
    std::vector<std::string> all = common;
    all.insert(all.end(), {"--out", out});
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };

  const RunResult first = run_palvane(dir, args("ref", {"--cpu", "1"}), 60);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<std::string> rows = sorted_lines(read_file(dir.file("ref.ibd")));
  const std::vector<std::string> segments = sorted_lines(read_file(dir.file("ref.segments")));
  ASSERT_EQ(rows.size(), 1u + 60u * 59u / 2u);
  ASSERT_GT(segments.size(), 500u);

  for (int round = 0; round < 20; ++round) {
    for (const char* cpu : {"1", "4", "30"}) {
      SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", --cpu " + cpu);
      const RunResult run = run_palvane(dir, args("run", {"--cpu", cpu, "--buffer", "1024"}), 30);
      ASSERT_EQ(run.status, 0) << (run.status == -1 ? "hung: " : "") << run.err;
      ASSERT_EQ(sorted_lines(read_file(dir.file("run.ibd"))), rows);
      ASSERT_EQ(sorted_lines(read_file(dir.file("run.segments"))), segments);
    }
  }
}

}  // namespace
