// Whole runs with the fast pair scan give the files of the plain reference
// scan: byte for byte with one worker, the same rows and lines with several.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

RunResult run_reference(const TempDir& dir, const std::vector<std::string>& args) {
  return run_program(PALVANE_REFERENCE_BIN, args, dir.path);
}

TEST(FastScanRun, SameReportsAsTheReferenceScan) {
  TempDir dir;
  ASSERT_EQ(run_simulator(dir, {"--samples", "90", "--variants", "12001", "--chromosomes", "3",
                                "--out", "cohort.vcf.gz"})
                .status,
            0);
  // Small fixed thresholds make many segments, closings and breaks.
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, std::vector<std::string>{"--ibs1markers", "40", "--ibs2markers", "9"}}) {
    for (const char* cpu : {"1", "3"}) {
      std::vector<std::string> fast = {"--vcf", "cohort.vcf.gz", "--segments", "--cpu", cpu, "--out", "fast"};
      std::vector<std::string> ref = {"--vcf", "cohort.vcf.gz", "--segments", "--cpu", cpu, "--out", "ref"};
      fast.insert(fast.end(), extra.begin(), extra.end());
      ref.insert(ref.end(), extra.begin(), extra.end());
      ASSERT_EQ(run_palvane(dir, fast).status, 0);
      ASSERT_EQ(run_reference(dir, ref).status, 0);
      for (const char* suffix : {".ibd", ".segments"}) {
        std::string a = read_file(dir.file(std::string("fast") + suffix));
        std::string b = read_file(dir.file(std::string("ref") + suffix));
        ASSERT_GT(std::count(b.begin(), b.end(), '\n'), 1) << suffix;
        if (std::string(cpu) == "1") {
          EXPECT_EQ(a, b) << suffix << " with one worker";
        } else {
          EXPECT_EQ(sorted_lines(a), sorted_lines(b)) << suffix << " with " << cpu << " workers";
        }
      }
    }
  }
}

}  // namespace
