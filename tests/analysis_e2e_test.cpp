// The whole analysis end to end: the built palvane binary on the hand-made
// four-sample file, whose reports are worked out below, and on a generated
// cohort with known relatives.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "setup/run_messages.h"
#include "tests/four_sample_vcf.h"
#include "tests/line_pattern.h"
#include "tests/test_util.h"

namespace {

const std::string kIbdHeader =
    "               ID1                ID2    NMARK  NCOMMON         IBD0        IBD1_MAX "
    "IBD1_NSEGS      IBD1        IBD2_MAX IBD2_NSEGS      IBD2\n";
const std::string kSegmentsHeader =
    "TYPE              ID1             ID2  CHROM  VARSTART   VAREND              POS Mbp      "
    "LENGTH Mbp    NMARKERS\n";

std::string expected_file(const std::string& name) {
  return read_file(std::string(PALVANE_TEST_DATA) + "/" + name);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string without_lines_containing(const std::string& text,
                                     const std::vector<std::string>& parts) {
  std::string kept;
  for (const std::string& line : lines_of(text))
    if (std::none_of(parts.begin(), parts.end(),
                     [&](const std::string& p) { return line.find(p) != std::string::npos; }))
      kept += line + "\n";
  return kept;
}

// A complete run ends its standard output with these two lines.
bool ends_complete(const std::string& out) {
  static const LinePattern total_time(
      "      -   Total time for analysis was [0-9]+\\.[0-9][0-9] minutes \\([0-9]+\\.[0-9] "
      "seconds\\)");
  const std::vector<std::string> lines = lines_of(out);
  const size_t n = lines.size();
  return out.size() >= 2 && out.compare(out.size() - 2, 2, "\n\n") == 0 && n >= 5 &&
         lines[n - 5].empty() && lines[n - 4] == "[*] Finished processing " &&
         lines[n - 3].empty() && total_time.matches(lines[n - 2]) && lines[n - 1].empty();
}

struct Reports {
  RunResult run;
  std::string ibd, segments;
};

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines = lines_of(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

Reports run_four_samples(const std::vector<std::string>& more) {
  TempDir dir;
  write_file(dir.file("in.vcf"), four_sample_vcf());
  Reports r{run_palvane(dir, four_sample_args(more)), "", ""};
  r.ibd = read_file(dir.file("run.ibd"));
  r.segments = read_file(dir.file("run.segments"));
  return r;
}

}  // namespace

// Thresholds IBD1 100 and IBD2 120 markers; 551 variants, scanned as bytes
// 0-149 (variants 0-299) on chromosome 1 and bytes 150-274 (variants 300-549)
// on chromosome 2: variant 300 is scanned with chromosome 2, variant 550 not
// at all. A row's IBD2 is sum2/551 and its IBD1 sum1/551 - IBD2 (at least 0).
//
// Tolerant scan. A with B, and every sample with D (never called), match
// everywhere: one run of each kind per chromosome, 300 and 250 long, closed at
// the chromosome's end P = 300 and 550: segments 2-298 and 302-548.
// A and C, chromosome 1: the IBS2 run ends at its fifth break (P = 100) at 92,
// below 120; the IBS1 run takes breaks at P = 200-206 (penalty 70, 139, 208,
// 277) and ends at P = 206 at 200: segment 8-204. At the end the IBS1 run is
// 92 (dropped) and the IBS2 run 190 (112-298). Chromosome 2: byte 150 is a
// break of both kinds; the fifth IBS2 break at P = 406 ends a run of 98
// (dropped); at the end the IBS1 run is 248 (304-548), the IBS2 run 140
// (412-548). So sum1 448 in 2, sum2 330 in 2, longest 248 and 190.
//
// Merging scan, A and C: every IBS2 run ends at its break and none merges
// (no saved run above 30 is followed by one above 30); the IBS1 run ends at
// the first opposite homozygote (P = 200) at 200: segment 2-198. Only the
// last IBS2 run of chromosome 2 (140) passes 120. Strict scan: runs go on
// across the chromosomes, so the pairs that match everywhere have one run of
// 550 of each kind; A and C get the merging scan's figures.
TEST(AnalysisEndToEnd, EachScanModeWritesTheRowsAndSegmentsWorkedOutByHand) {
  struct Case {
    std::vector<std::string> args;
    std::string ibd_file, segments_file;  // an empty segments file name: header only
  };
  const std::vector<Case> cases = {
      {{}, "four_samples_tolerant.ibd", "four_samples_tolerant.segments"},
      {{"--error", "2"}, "four_samples_tolerant.ibd", "four_samples_tolerant.segments"},
      {{"--error", "1"}, "four_samples_merging.ibd", "four_samples_merging.segments"},
      {{"--error", "0"}, "four_samples_strict.ibd", ""},
      {{"--error", "7"}, "four_samples_strict.ibd", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--cpu", "1", "--segments"});
    const Reports r = run_four_samples(args);
    const std::string label = c.ibd_file + (c.args.empty() ? "" : " --error " + c.args[1]);
    EXPECT_EQ(r.run.status, 0) << label << "\n" << r.run.err;
    EXPECT_TRUE(ends_complete(r.run.out)) << label;
    const std::string ibd = expected_file(c.ibd_file);
    ASSERT_EQ(ibd.substr(0, kIbdHeader.size()), kIbdHeader);
    EXPECT_EQ(r.ibd, ibd) << label;
    const std::string segments =
        c.segments_file.empty() ? kSegmentsHeader : expected_file(c.segments_file);
    ASSERT_EQ(segments.substr(0, kSegmentsHeader.size()), kSegmentsHeader);
    EXPECT_EQ(r.segments, segments) << label;
    // The thresholds given on the command line are the ones the scans use.
    EXPECT_NE(r.run.out.find("      -   IBS1 threshold : 18.15 % of genome  (100 markers) \n"
                             "      -   IBS2 threshold : 21.78 % of genome  (120 markers) \n\n\n"),
              std::string::npos)
        << label;
  }
  EXPECT_EQ(kIbdHeader.size(), 143u);
  EXPECT_EQ(kSegmentsHeader.size(), 113u);
}

TEST(AnalysisEndToEnd, ReportThresholdDropsRowsButKeepsTheirSegments) {
  // A and C, B and C share 0.813 of the genome; the other pairs 0.998.
  const Reports r = run_four_samples({"--cpu", "1", "--segments", "--report-ibd", "0.9"});
  EXPECT_EQ(r.run.status, 0);
  EXPECT_EQ(r.ibd,
            without_lines_containing(expected_file("four_samples_tolerant.ibd"), {"  C      551"}));
  EXPECT_EQ(r.segments, expected_file("four_samples_tolerant.segments"));
  // Without --segments the segments file holds its header alone.
  const Reports quiet = run_four_samples({"--cpu", "2", "--report-ibd", "0.9"});
  EXPECT_EQ(quiet.segments, kSegmentsHeader);
  // Two workers write the same rows in blocks of their own.
  EXPECT_EQ(sorted_lines(quiet.ibd), sorted_lines(r.ibd));
}

TEST(AnalysisEndToEnd, OnePairOrNoWorker) {
  const std::string ac_row = lines_of(expected_file("four_samples_tolerant.ibd"))[2] + "\n";
  const std::string ac_segments = without_lines_containing(
      expected_file("four_samples_tolerant.segments"), {"  B   ", "  D   ", "TYPE"});
  ASSERT_EQ(lines_of(ac_segments).size(), 4u);

  // One pair, scanned by one worker whatever --cpu says.
  const Reports pair = run_four_samples({"--pair", "A", "C", "--cpu", "3", "--segments"});
  EXPECT_EQ(pair.run.status, 0) << pair.run.err;
  EXPECT_NE(pair.run.out.find("\n -  Compute IBD by IBS: (cpu=1/1) Nind = 4 Nvar = 551\n"
                              "Running pair 0 2\n"),
            std::string::npos);
  EXPECT_TRUE(ends_complete(pair.run.out));
  EXPECT_EQ(pair.ibd, kIbdHeader + ac_row);
  EXPECT_EQ(pair.segments, kSegmentsHeader + ac_segments);

  // A name that is not a sample: nothing is scanned and the run fails.
  const Reports missing = run_four_samples({"--pair", "A", "nobody", "--segments"});
  EXPECT_EQ(missing.run.status, 1);
  EXPECT_NE(missing.run.err.find("Error: --pair sample \"nobody\" is not among the 4 sample names"),
            std::string::npos)
      << missing.run.err;
  EXPECT_EQ(missing.ibd, kIbdHeader);
  EXPECT_EQ(missing.segments, kSegmentsHeader);

  // No pair worker: both reports hold their headers, and the run completes.
  const Reports none = run_four_samples({"--cpu", "0", "--segments"});
  EXPECT_EQ(none.run.status, 0);
  EXPECT_EQ(none.run.out.find("Compute IBD by IBS"), std::string::npos);
  EXPECT_NE(none.run.out.find("[*]  Genotype pre-processing duration:  "), std::string::npos);
  EXPECT_TRUE(ends_complete(none.run.out)) << none.run.out;
  EXPECT_EQ(none.ibd, kIbdHeader);
  EXPECT_EQ(none.segments, kSegmentsHeader);
}

namespace {

// A line pattern of standard output and how many consecutive lines it takes.
struct LineKind {
  std::string pattern;
  int min = 1, max = 1;
};

// Checks that `lines` are, in order, runs of the given kinds; returns the
// first line that does not fit, or "" when all fit.
std::string first_misfit(const std::vector<std::string>& lines,
                         const std::vector<LineKind>& kinds) {
  size_t at = 0;
  for (const LineKind& kind : kinds) {
    const LinePattern pattern(kind.pattern);
    int n = 0;
    while (n < kind.max && at < lines.size() && pattern.matches(lines[at])) ++n, ++at;
    if (n < kind.min)
      return "line " + std::to_string(at) + " '" + (at < lines.size() ? lines[at] : "<end>") +
             "' where '" + kind.pattern + "' was expected";
  }
  return at == lines.size() ? "" : "unexpected line '" + lines[at] + "'";
}

// Standard output of a cohort run of 120 samples with --segments, after the banner.
std::vector<LineKind> cohort_stdout(const std::string& prefix, int cpus) {
  const std::string d = "      -   ";  // detail prefix and its blank
  const std::string num = "[0-9]+";
  const std::string fixed2 = "[0-9]+\\.[0-9][0-9]";
  const std::string w = std::to_string(cpus);
  std::vector<LineKind> kinds = {
      {""},
      {""},
      {"\\[\\*\\]  Options in effect: "},
      {d + "Input file: c\\.vcf\\.gz"},
      {d + "Buffer size: 65536"},
      {d + "Number of CPUs: " + w},
      {""},
      {d + "Reporting threshold: all pairs"},
      {""},
      {d + "Segment reporting: YES"},
      {""},
      {d + "Input file name: c\\.vcf\\.gz"},
      {d + "Opening output file " + prefix + "\\.ibd  "},
      {d + "Opening output file " + prefix + "\\.segments  "},
      {d + "Number of samples: 120"},
      {""},
      {d + "Allocation genotype vector  npeople=136 nvars=200000"},
      {d + "GenotypeMatrix: allocating 25 MB of memory"},
      {d + "Excluding variants with missing rate > 0\\.020 \\(2 samples\\)"},
      {""},
      {d + "Excluding variants with allele frequency  < 0\\.060"},
      {""},
      {d + "Reading chromosome [1-4] \\(pos=" + num + "\\)", 4, 4},
      {d + "Chromosome   [1-4]    Markers [ 0-9]{7}[0-9]    Cumulative [ 0-9]{7}[0-9]", 4, 4},
      {""},
      {"\\[\\*\\]  Finished reading input files:  " + fixed2 + " ms "},
      {""},
      {d + "Expected IBS for unrelated pairs: p\\.IBS0 = 0\\.[0-9]{4}  p\\.IBS1 = 0\\.[0-9]{4}  "
           "p\\.IBS2 = 0\\.[0-9]{4}"},
      {d + "Likelihood based region estimate: " + num + " p=[-+.e0-9]+"},
      {" \\(ibs_est\\) " + d + num + " p=[0-9]\\.[0-9]{6} perr=[0-9]\\.[0-9]{6}", 2, 2},
      {" \\(ibs_est\\) Thresholds for defining regions as IBD1 = " + num + ", IBD2 = " + num},
      {" \\(ibs_est\\) Inflation at edges IBS1 = [0-9]+\\.[0-9], IBS2 = [0-9]+\\.[0-9]"},
      {d + "Genome size: [0-9]+\\.[0-9]{6}"},
      {d + "gs_threshold=[0-9]+\\.[0-9]{6}"},
      {d + "\\(ibs_est\\) Adjust segment size to " + num + " markers \\(from " + num + "\\)", 0, 1},
      {d + "IBS1 threshold : " + fixed2 + " % of genome  \\(" + num + " markers\\) "},
      {d + "IBS2 threshold : " + fixed2 + " % of genome  \\(" + num + " markers\\) "},
      {"", 3, 3},
      {"\\[\\*\\]  Starting IBD segment loop"},
      {d + "Allocation genotype vector transposed npeople=121 nvars=" + num},
      {d + "GenotypeMatrixTransposed: allocating " + num + " MB of memory"},
      {"", 2, 2},
      {"\\[\\*\\]  Genotype pre-processing duration:  " + fixed2 + " ms "},
      {""},
      {" -  Compute IBD by IBS: \\(cpu=[1-" + w + "]/" + w + "\\) Nind = 120 Nvar = " + num, cpus,
       cpus},
  };
  // 7140 pairs: one worker reports after 2000, 4000 and 6000 of them; four
  // workers scan at most 1785 each and report nothing.
  if (cpus == 1)
    for (const char* percent : {"28\\.0", "56\\.0", "84\\.0"})
      kinds.push_back({" -  " + std::string(percent) + "% completed - Pairs/sec = " + fixed2});
  std::vector<LineKind> end = {
      {""},
      {"\\[\\*\\] Finished processing "},
      {""},
      {d + "Total time for analysis was " + fixed2 + " minutes \\([0-9]+\\.[0-9] seconds\\)"},
      {""},
  };
  kinds.insert(kinds.end(), end.begin(), end.end());
  return kinds;
}

struct CohortRun {
  RunResult run;
  std::string ibd, segments;
};

CohortRun run_cohort(const TempDir& dir, const std::string& prefix, int cpus) {
  CohortRun c{run_palvane(dir, {"--vcf", "c.vcf.gz", "--out", prefix, "--cpu", std::to_string(cpus),
                                "--segments"}),
              read_file(dir.file(prefix + ".ibd")), read_file(dir.file(prefix + ".segments"))};
  EXPECT_EQ(c.run.status, 0) << c.run.err;
  const std::string banner = banner_text();
  EXPECT_EQ(c.run.out.substr(0, banner.size()), banner);
  const std::vector<std::string> lines =
      lines_of(c.run.out.substr(std::min(banner.size(), c.run.out.size())));
  EXPECT_EQ(first_misfit(lines, cohort_stdout(prefix, cpus)), "") << "--cpu " << cpus;
  EXPECT_EQ(c.run.err, "");
  return c;
}

// Generates the cohort of 120 samples and 20,000 variants in `dir`. Reading
// dominates a run under the sanitizers, so the test reads it twice only.
void generate_cohort(const TempDir& dir) {
  const RunResult sim = run_simulator(
      dir, {"--samples", "120", "--variants", "20000", "--out", "c.vcf.gz", "--truth", "c.truth"});
  ASSERT_EQ(sim.status, 0) << sim.err;
}

}  // namespace

TEST(CohortEndToEnd, RelativesAreFoundWithEveryLineInItsFormatWhateverTheWorkerCount) {
  TempDir dir;
  generate_cohort(dir);
  const CohortRun c = run_cohort(dir, "c1", 1);

  // IBD1 and IBD2 of every pair, by the two names in either order.
  std::map<std::pair<std::string, std::string>, std::pair<double, double>> shared;
  std::vector<std::string> rows = lines_of(c.ibd);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0] + "\n", kIbdHeader);
  for (size_t i = 1; i < rows.size(); ++i) {
    std::istringstream f(rows[i]);
    std::string a, b, field;
    std::vector<std::string> rest;
    f >> a >> b;
    while (f >> field) rest.push_back(field);
    ASSERT_EQ(rest.size(), 9u) << rows[i];
    shared[{a, b}] = shared[{b, a}] = {std::stod(rest[5]), std::stod(rest[8])};
  }
  ASSERT_EQ(shared.size(), 2u * 120 * 119 / 2);

  std::map<std::string, std::vector<std::pair<double, double>>> by_relationship;
  std::set<std::pair<std::string, std::string>> related;
  for (const std::string& line : lines_of(read_file(dir.file("c.truth")))) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string a, b, relationship;
    f >> a >> b >> relationship;
    ASSERT_TRUE(shared.count({a, b})) << line;
    by_relationship[relationship].push_back(shared[{a, b}]);
    related.insert({a, b});
    related.insert({b, a});
  }
  ASSERT_GT(by_relationship["parent-offspring"].size(), 10u);
  for (auto [ibd1, ibd2] : by_relationship["parent-offspring"]) {
    EXPECT_GT(ibd1, 0.9);
    EXPECT_LT(ibd2, 0.05);
  }
  // Siblings' sharing varies with their crossovers; their mean lies near 0.5 and 0.25.
  const auto& siblings = by_relationship["full-siblings"];
  ASSERT_GT(siblings.size(), 5u);
  double sum1 = 0, sum2 = 0;
  for (auto [ibd1, ibd2] : siblings) {
    EXPECT_TRUE(ibd1 > 0.25 && ibd1 < 0.75) << ibd1;
    EXPECT_TRUE(ibd2 > 0.1 && ibd2 < 0.55) << ibd2;
    sum1 += ibd1;
    sum2 += ibd2;
  }
  EXPECT_NEAR(sum1 / siblings.size(), 0.5, 0.1);
  EXPECT_NEAR(sum2 / siblings.size(), 0.25, 0.1);
  // Second-degree relatives share one haplotype in places, never two.
  for (const char* kind : {"half-siblings", "avuncular", "grandparent-grandchild"}) {
    ASSERT_FALSE(by_relationship[kind].empty()) << kind;
    for (auto [ibd1, ibd2] : by_relationship[kind]) {
      EXPECT_TRUE(ibd1 > 0.1 && ibd1 < 0.9) << kind << " " << ibd1;
      EXPECT_LT(ibd2, 0.05) << kind;
    }
  }
  int unrelated = 0;
  for (const auto& [names, ibd] : shared)
    if (!related.count(names)) {
      ++unrelated;
      EXPECT_LT(ibd.first + ibd.second, 0.05) << names.first << " " << names.second;
    }
  EXPECT_GT(unrelated, 2 * 6000);

  // Every segment line has its format and names a pair that has a row.
  std::vector<std::string> segments = lines_of(c.segments);
  ASSERT_GT(segments.size(), 100u);
  EXPECT_EQ(segments[0] + "\n", kSegmentsHeader);
  const LinePattern segment_line(
      "IBD[12]  [ A-Za-z0-9_]{15} [ A-Za-z0-9_]{15} [ 0-9]{5}[1-4] [ 0-9]{8}[0-9] "
      "[ 0-9]{7}[0-9]        [ 0-9]{3}[0-9]\\.[0-9]{4} Mbp   [ 0-9]{3}[0-9]\\.[0-9]{4} Mbp  "
      "[ 0-9]{9}[0-9]");
  for (size_t i = 1; i < segments.size(); ++i) {
    ASSERT_TRUE(segment_line.matches(segments[i])) << segments[i];
    std::istringstream f(segments[i]);
    std::string type, a, b;
    f >> type >> a >> b;
    EXPECT_TRUE(shared.count({a, b})) << segments[i];
  }

  // Four workers write the same rows and segment lines, after the same headers.
  const CohortRun four = run_cohort(dir, "c4", 4);
  EXPECT_EQ(four.ibd.substr(0, kIbdHeader.size()), kIbdHeader);
  EXPECT_EQ(four.segments.substr(0, kSegmentsHeader.size()), kSegmentsHeader);
  EXPECT_EQ(sorted_lines(c.ibd), sorted_lines(four.ibd));
  EXPECT_EQ(sorted_lines(c.segments), sorted_lines(four.segments));
}
