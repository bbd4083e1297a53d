// The cohort generator that the end-to-end tests and benchmarks feed to
// palvane: reproducible bytes, and genotypes that respect the pedigree.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_util.h"
#include "tests/text_lines.h"

namespace {
std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
  return parts;
}
}  // namespace

TEST(SimulateCohort, SameArgumentsGiveSameBytesWhateverTheThreads) {
  TempDir dir;
  auto run = [&](const std::string& out, std::vector<std::string> more) {
    more.insert(more.end(), {"--samples", "60", "--variants", "3000", "--seed", "7", "--out", out});
    ASSERT_EQ(run_simulator(dir, more).status, 0);
  };
  run("t1.vcf.gz", {"--threads", "1"});
  run("t4.vcf.gz", {"--threads", "4"});
  EXPECT_FALSE(read_file(dir.file("t1.vcf.gz")).empty());
  EXPECT_EQ(read_file(dir.file("t1.vcf.gz")), read_file(dir.file("t4.vcf.gz")));
}

// Each child haplotype comes from one parent: haplotype 0 from the first, 1
// from the second.
TEST(SimulateCohort, ChildrenInheritOneHaplotypeFromEachParent) {
  TempDir dir;
  ASSERT_EQ(
      run_simulator(dir, {"--samples", "80", "--variants", "4000", "--plain", "--out", "c.vcf"})
          .status,
      0);
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : lines_of(read_file(dir.file("c.vcf"))))
    if (line.rfind("##", 0) != 0) rows.push_back(split(line, '\t'));
  ASSERT_EQ(rows.size(), 4001u);
  std::map<std::string, size_t> column;
  for (size_t c = 9; c < rows[0].size(); ++c) column[rows[0][c]] = c;
  ASSERT_EQ(column.size(), 80u);
  for (auto [child, first, second] : {std::tuple{"F1_C1", "F1_P1", "F1_M1"},
                                      {"F2_H1", "F2_P1", "F2_M3"},
                                      {"F2_P2", "F2_G1", "F2_G2"}}) {
    long checked = 0;
    for (size_t v = 1; v < rows.size(); ++v) {
      const std::string &c = rows[v][column.at(child)], &a = rows[v][column.at(first)],
                        &b = rows[v][column.at(second)];
      if (c[0] == '.' || a[0] == '.' || b[0] == '.') continue;
      ASSERT_TRUE(c[0] == a[0] || c[0] == a[2]) << child << " at " << rows[v][1];
      ASSERT_TRUE(c[2] == b[0] || c[2] == b[2]) << child << " at " << rows[v][1];
      ++checked;
    }
    EXPECT_GT(checked, 3900) << child;
  }
}
