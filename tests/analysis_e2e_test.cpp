// The whole analysis end to end: the built palvane binary on the hand-made
// four-sample file, whose reports are worked out below, and on a generated
// cohort with known relatives.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/four_sample_vcf.h"
#include "tests/test_util.h"
#include "tests/text_lines.h"

namespace {

std::string expected_file(const std::string& name) {
  return read_file(std::string(PALVANE_TEST_DATA) + "/" + name);
}

// The lines of text at the given indices.
std::string lines_at(const std::string& text, std::initializer_list<size_t> at) {
  std::string kept;
  for (size_t i : at) kept += lines_of(text).at(i) + "\n";
  return kept;
}

const std::string kIbdHeader =
    "               ID1                ID2    NMARK  NCOMMON         IBD0        IBD1_MAX "
    "IBD1_NSEGS      IBD1        IBD2_MAX IBD2_NSEGS      IBD2\n";
const std::string kSegmentsHeader =
    "TYPE              ID1             ID2  CHROM  VARSTART   VAREND              POS Mbp      "
    "LENGTH Mbp    NMARKERS\n";
const std::string kComplete =
    "\n[*] Finished processing \n\n      -   Total time for analysis was ";

// Thresholds IBD1 100 and IBD2 120 markers. 551 variants, scanned as bytes
// 0-149 (variants 0-299) on chromosome 1 and 150-274 (300-549) on chromosome 2:
// variant 300 goes with chromosome 2, variant 550 is not scanned. IBD2 is
// sum2/551 and IBD1 sum1/551 - IBD2 (at least 0).
// Tolerant scan. A-B and every pair with D match everywhere: one run of each
// kind per chromosome, closed at its end (P = 300, 550): segments 2-298 and
// 302-548. A-C, chromosome 1: the IBS2 run ends at its fifth break (P = 100) at
// 92; the IBS1 run takes breaks at P = 200-206 (penalty 70, 139, 208, 277) and
// ends at 200: segment 8-204; at the end the IBS1 run is 92, the IBS2 run 190
// (112-298). Chromosome 2: byte 150 breaks both; the fifth IBS2 break (P = 406)
// ends a run of 98; at the end the IBS1 run is 248 (304-548), the IBS2 run 140
// (412-548). Merging scan, A-C: no IBS2 runs merge (no saved run above 30 is
// followed by one above 30); the IBS1 run ends at P = 200 at 200 (2-198); only
// the last IBS2 run (140) passes 120. Strict scan: runs go on across the
// chromosomes, so pairs that match everywhere have one run of 550 of each kind;
// A-C gets the merging scan's figures.
TEST(AnalysisEndToEnd, FourSampleReportsWorkedOutByHand) {
  const std::string tolerant = expected_file("four_samples_tolerant.ibd"),
                    tolerant_segments = expected_file("four_samples_tolerant.segments"),
                    strict = expected_file("four_samples_strict.ibd");
  const std::string thresholds =
      "      -   IBS1 threshold : 18.15 % of genome  (100 markers) \n"
      "      -   IBS2 threshold : 21.78 % of genome  (120 markers) \n\n\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string ibd, segments, out_part, err;
  } cases[] = {
      {{"--segments", "--cpu", "1", "--error", "2"}, 0, tolerant, tolerant_segments, thresholds,
       ""},
      {{"--segments", "--cpu", "1", "--error", "1"}, 0, expected_file("four_samples_merging.ibd"),
       expected_file("four_samples_merging.segments"), thresholds, ""},
      {{"--segments", "--cpu", "1", "--error", "0"}, 0, strict, kSegmentsHeader, thresholds, ""},
      {{"--segments", "--cpu", "1", "--error", "7"}, 0, strict, kSegmentsHeader, thresholds, ""},
      // Rows below the report threshold go, their segments stay: A and C, B
      // and C share 0.813 of the genome, the other pairs 0.998.
      {{"--segments", "--cpu", "1", "--report-ibd", "0.9"}, 0, lines_at(tolerant, {0, 1, 4, 5, 6}),
       tolerant_segments, "", ""},
      // Without --segments the segments file holds its header alone.
      {{"--cpu", "1"}, 0, tolerant, kSegmentsHeader, "", ""},
      // One pair, scanned by one worker whatever --cpu says.
      {{"--segments", "--pair", "A", "C", "--cpu", "3"}, 0, lines_at(tolerant, {0, 2}),
       lines_at(tolerant_segments, {0, 5, 6, 7, 8}),
       "\n -  Compute IBD by IBS: (cpu=1/1) Nind = 4 Nvar = 551\nRunning pair 0 2\n", ""},
      // A name that is not a sample: nothing is scanned and the run fails.
      {{"--segments", "--pair", "A", "nobody"}, 1, kIbdHeader, kSegmentsHeader, "",
       "Error: --pair sample \"nobody\" is not among the 4 sample names of the input; no pair "
       "scanned\n"},
      // No pair worker: the reports hold their headers alone.
      {{"--segments", "--cpu", "0"}, 0, kIbdHeader, kSegmentsHeader, "", ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir.file("in.vcf"), four_sample_vcf());
    const Reports r = run_and_read(dir, four_sample_args(c.args));
    std::string label;
    for (const std::string& arg : c.args) label += arg + " ";
    EXPECT_EQ(r.run.status, c.status) << label;
    EXPECT_EQ(r.run.err, c.err) << label;
    EXPECT_NE(r.run.out.find(c.out_part), std::string::npos) << label;
    EXPECT_NE(r.run.out.find(kComplete), std::string::npos) << label;
    EXPECT_EQ(r.ibd, c.ibd) << label;
    EXPECT_EQ(r.segments, c.segments) << label;
  }
  EXPECT_EQ(kIbdHeader.size(), 143u);
  EXPECT_EQ(kSegmentsHeader.size(), 113u);
}

TEST(CohortEndToEnd, RelativesAreFoundWhateverTheScanKernel) {
  // 120 samples and 20,000 variants; reading dominates a run under the
  // sanitizers, so the test reads the cohort as few times as it can.
  TempDir dir;
  ASSERT_EQ(run_simulator(dir, {"--samples", "120", "--variants", "20000", "--out", "c.vcf.gz",
                                "--truth", "c.truth"})
                .status,
            0);
  auto args = [](std::vector<std::string> more) {
    more.insert(more.begin(), {"--vcf", "c.vcf.gz", "--out", "run", "--segments", "--cpu"});
    return more;
  };
  const Reports c = run_and_read(dir, args({"1"}));
  EXPECT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_EQ(c.run.err, "");

  // IBD1 and IBD2 of every pair, by the two names in either order.
  std::map<std::pair<std::string, std::string>, std::pair<double, double>> shared;
  for (const std::string& row : lines_of(c.ibd.substr(kIbdHeader.size()))) {
    std::istringstream f(row);
    std::string a, b, skip;
    double ibd1 = -1, ibd2 = -1;
    f >> a >> b >> skip >> skip >> skip >> skip >> skip >> ibd1 >> skip >> skip >> ibd2;
    ASSERT_TRUE(f && ibd1 >= 0 && ibd2 >= 0) << row;
    shared[{a, b}] = shared[{b, a}] = {ibd1, ibd2};
  }
  ASSERT_EQ(shared.size(), 2u * 120 * 119 / 2);

  // Lower and upper bounds of IBD1 and IBD2 by relationship. Siblings' sharing
  // varies with their crossovers; second-degree relatives never share two haplotypes.
  const std::map<std::string, std::vector<double>> bounds = {
      {"parent-offspring", {0.9, 1.0, 0.0, 0.05}},  {"full-siblings", {0.25, 0.75, 0.1, 0.55}},
      {"half-siblings", {0.1, 0.9, 0.0, 0.05}},     {"avuncular", {0.1, 0.9, 0.0, 0.05}},
      {"grandparent-grandchild", {0.1, 0.9, 0.0, 0.05}}};
  std::map<std::string, int> found;
  double sibling1 = 0, sibling2 = 0;
  for (const std::string& line : lines_of(read_file(dir.file("c.truth")))) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string a, b, relationship;
    f >> a >> b >> relationship;
    ASSERT_TRUE(shared.count({a, b})) << line;
    const auto [ibd1, ibd2] = shared[{a, b}];
    ++found[relationship];
    if (relationship == "full-siblings") sibling1 += ibd1, sibling2 += ibd2;
    shared[{a, b}] = shared[{b, a}] = {-1, -1};  // related: left out of the unrelated check
    if (!bounds.count(relationship)) continue;
    const std::vector<double>& r = bounds.at(relationship);
    EXPECT_TRUE(ibd1 >= r[0] && ibd1 <= r[1] && ibd2 >= r[2] && ibd2 <= r[3])
        << line << ": " << ibd1 << " " << ibd2;
  }
  for (const auto& [relationship, r] : bounds)
    EXPECT_GT(found[relationship], relationship == "full-siblings" ? 5 : 0) << relationship;
  // The siblings' mean lies near 0.5 and 0.25.
  EXPECT_NEAR(sibling1 / found["full-siblings"], 0.5, 0.1);
  EXPECT_NEAR(sibling2 / found["full-siblings"], 0.25, 0.1);
  int unrelated = 0;
  for (const auto& [names, ibd] : shared)
    if (ibd.first >= 0) {
      ++unrelated;
      EXPECT_LT(ibd.first + ibd.second, 0.05) << names.first << " " << names.second;
    }
  EXPECT_GT(unrelated, 2 * 6000);

  // The plain reference scan writes the fast scan's files byte for byte, also
  // with small thresholds that make many segments, closings and breaks.
  for (const auto& more : {std::vector<std::string>{"1"},
                           {"1", "--ibs1markers", "100", "--ibs2markers", "30"}}) {
    const Reports fast = more.size() == 1 ? c : run_and_read(dir, args(more));
    const Reports reference = run_and_read(dir, args(more), PALVANE_REFERENCE_BIN);
    ASSERT_EQ(reference.run.status, 0);
    EXPECT_GT(lines_of(reference.segments).size(), 100u);
    EXPECT_TRUE(fast.ibd == reference.ibd) << more.size();
    EXPECT_TRUE(fast.segments == reference.segments) << more.size();
  }
}

}  // namespace
