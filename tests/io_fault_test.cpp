// Input and output faults, simulated by a preloaded read() and write()
// (tests/io_fault_shim.cpp). A disk that runs full while the reports are
// written: the run goes on to its end, reports each failed write, and ends
// with exit status 1 so that a pipeline sees the reports are incomplete. A
// read error part-way through the input ends the run with status 1 and
// empty reports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/vcf_text.h"

namespace {

// Runs palvane with the shim and one of its settings, e.g. PALVANE_DISK_ROOM=0.
RunResult run_with_fault(const TempDir& dir, const std::string& setting,
                         const std::vector<std::string>& args) {
  // The shim comes before the sanitizer runtimes in the library order.
  const char* asan = getenv("ASAN_OPTIONS");
  std::vector<std::string> command = {
      std::string("LD_PRELOAD=") + IO_FAULT_SHIM, setting,
      std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0",
      PALVANE_BIN};
  command.insert(command.end(), args.begin(), args.end());
  return run_program("/usr/bin/env", command, dir.path, 120);
}

long file_size(const std::string& path) { return static_cast<long>(read_file(path).size()); }

TEST(DiskFull, RunEndsWithStatus1AfterReportingEachFailedWrite) {
  TempDir dir;
  // 80 samples: about 450 kB of rows, written in pieces by the workers
  // while they scan and by the final flush.
  write_file(dir.file("in"), Cohort(80, 600).text());
  const std::vector<std::string> args = {"--vcf", "in", "--out", "out", "--cpu", "4", "--segments"};
  const RunResult full = run_with_fault(dir, "PALVANE_DISK_ROOM=1073741824", args);
  ASSERT_EQ(full.status, 0) << full.err;
  const long report_bytes = file_size(dir.file("out.ibd")) + file_size(dir.file("out.segments"));
  ASSERT_GT(report_bytes, 200000);

  // No room at all (every write fails); room for part of the rows (a write
  // cut short, then failures while the workers still run).
  for (long room : {0L, 100000L}) {
    SCOPED_TRACE("room " + std::to_string(room));
    const RunResult run = run_with_fault(dir, "PALVANE_DISK_ROOM=" + std::to_string(room), args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("[*] Finished processing \n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Total time for analysis"), std::string::npos);
    ASSERT_FALSE(run.err.empty());
    std::istringstream err(run.err);
    size_t lines = 0;
    for (std::string line; std::getline(err, line); ++lines)
      EXPECT_EQ(line, "write: No space left on device");
    EXPECT_GE(lines, 2u);  // both reports lose text
    EXPECT_EQ(file_size(dir.file("out.ibd")) + file_size(dir.file("out.segments")), room);
  }
}

TEST(ReadError, PartWayThroughTheInputEndsWithStatus1AndEmptyReports) {
  const std::string text = Cohort(20, 20000).text();
  for (Packing packing : {Packing::kPlain, Packing::kGzip, Packing::kBgzf}) {
    SCOPED_TRACE(static_cast<int>(packing));
    TempDir dir;
    write_packed(dir.file("in"), text, packing);
    const long size = file_size(dir.file("in"));
    const RunResult run = run_with_fault(dir, "PALVANE_READ_ROOM=" + std::to_string(size / 2),
                                         {"--vcf", "in", "--out", "out", "--cpu", "2"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    // The reader may still print a line of what it had queued after the error.
    EXPECT_NE(run.out.find("\nError while reading input file: Corrupted VCF file?\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(read_file(dir.file("out.ibd")), "");
    EXPECT_EQ(read_file(dir.file("out.segments")), "");
  }
}

}  // namespace
