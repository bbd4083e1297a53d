// The cohort generator that the end-to-end tests and benchmarks feed to
// palvane: reproducible bytes, a well-formed VCF, genotypes that respect the
// pedigree, and a truth file that names the relatives.
#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

std::string read_compressed(const std::string& path) {
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) return "";
  std::string text;
  char buf[1 << 16];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) text.append(buf, n);
  gzclose(f);
  return text;
}

struct Vcf {
  std::vector<std::string> meta;                 // "##" lines
  std::vector<std::string> header;               // columns of the "#CHROM" line
  std::vector<std::vector<std::string>> rows;    // columns of each data line
  std::map<std::string, int> column;             // sample name -> data column
};

Vcf parse_vcf(const std::string& text) {
  Vcf vcf;
  for (const std::string& line : split(text, '\n')) {
    if (line.rfind("##", 0) == 0) vcf.meta.push_back(line);
    else if (line.rfind("#", 0) == 0) vcf.header = split(line, '\t');
    else vcf.rows.push_back(split(line, '\t'));
  }
  for (size_t c = 9; c < vcf.header.size(); ++c) vcf.column[vcf.header[c]] = static_cast<int>(c);
  return vcf;
}

// Generates a cohort with `args` and returns its decompressed text.
std::string generate(const std::vector<std::string>& args, const std::string& truth_name = "") {
  TempDir dir;
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--out", "c.vcf.gz"});
  if (!truth_name.empty()) all.insert(all.end(), {"--truth", "truth.txt"});
  RunResult r = run_simulator(dir, all);
  EXPECT_EQ(r.status, 0) << r.err;
  if (!truth_name.empty()) write_file(truth_name, read_file(dir.file("truth.txt")));
  return read_compressed(dir.file("c.vcf.gz"));
}

int dosage(const std::string& call) { return (call[0] - '0') + (call[2] - '0'); }
bool missing(const std::string& call) { return call[0] == '.'; }

}  // namespace

TEST(SimulateCohort, SameArgumentsGiveSameBytesWhateverTheThreads) {
  TempDir a, b;
  const std::vector<std::string> args = {"--samples", "60", "--variants", "3000", "--seed", "7"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> all = args;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  ASSERT_EQ(run_simulator(a, with({"--out", "x.vcf.gz", "--threads", "1"})).status, 0);
  ASSERT_EQ(run_simulator(b, with({"--out", "x.vcf.gz", "--threads", "4"})).status, 0);
  ASSERT_EQ(run_simulator(b, with({"--out", "y.vcf.gz", "--seed", "8"})).status, 0);
  const std::string first = read_file(a.file("x.vcf.gz"));
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(first, read_file(b.file("x.vcf.gz")));
  EXPECT_NE(read_compressed(a.file("x.vcf.gz")), read_compressed(b.file("y.vcf.gz")));

  // --plain writes the same text uncompressed.
  ASSERT_EQ(run_simulator(a, with({"--out", "x.vcf", "--plain"})).status, 0);
  EXPECT_EQ(read_file(a.file("x.vcf")), read_compressed(a.file("x.vcf.gz")));
}

TEST(SimulateCohort, WritesWellFormedVcfOfTheAskedSize) {
  const Vcf vcf = parse_vcf(generate({"--samples", "50", "--variants", "3001", "--chromosomes", "3"}));
  ASSERT_GE(vcf.meta.size(), 1u);
  EXPECT_EQ(vcf.meta[0], "##fileformat=VCFv4.2");
  const std::vector<std::string> fixed = {"#CHROM", "POS", "ID", "REF", "ALT",
                                          "QUAL", "FILTER", "INFO", "FORMAT"};
  ASSERT_EQ(vcf.header.size(), 9u + 50u);
  EXPECT_EQ(std::vector<std::string>(vcf.header.begin(), vcf.header.begin() + 9), fixed);
  EXPECT_EQ(vcf.column.size(), 50u) << "sample names must be distinct";
  ASSERT_EQ(vcf.rows.size(), 3001u);

  const std::set<std::string> calls = {"0|0", "0|1", "1|0", "1|1", "./."};
  std::vector<std::string> chromosomes;
  long last_pos = 0;
  for (const auto& row : vcf.rows) {
    ASSERT_EQ(row.size(), 59u);
    EXPECT_EQ(row[8], "GT");
    EXPECT_NE(row[3], row[4]);
    const long pos = std::stol(row[1]);
    if (chromosomes.empty() || chromosomes.back() != row[0]) {
      chromosomes.push_back(row[0]);
    } else {
      EXPECT_GT(pos, last_pos) << "positions must increase within a chromosome";
    }
    last_pos = pos;
    for (size_t c = 9; c < row.size(); ++c) ASSERT_TRUE(calls.count(row[c])) << row[c];
  }
  EXPECT_EQ(chromosomes, (std::vector<std::string>{"1", "2", "3"}));
}

TEST(SimulateCohort, GenotypesFollowThePedigree) {
  TempDir dir;
  const std::string truth_path = dir.file("truth.txt");
  const Vcf vcf = parse_vcf(generate({"--samples", "80", "--variants", "4000"}, truth_path));
  ASSERT_EQ(vcf.rows.size(), 4000u);

  // Per relationship: pairs checked and opposite homozygotes (0|0 against 1|1) seen.
  std::map<std::string, std::pair<int, long>> opposite;
  auto count_opposite = [&](int a, int b) {
    long n = 0;
    for (const auto& row : vcf.rows)
      if (!missing(row[a]) && !missing(row[b]) && dosage(row[a]) + dosage(row[b]) == 2 &&
          dosage(row[a]) != 1)
        ++n;
    return n;
  };
  for (const std::string& line : split(read_file(truth_path), '\n')) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = split(line, '\t');
    ASSERT_EQ(f.size(), 7u) << line;
    ASSERT_TRUE(vcf.column.count(f[0]) && vcf.column.count(f[1])) << line;
    auto& entry = opposite[f[2]];
    ++entry.first;
    entry.second += count_opposite(vcf.column.at(f[0]), vcf.column.at(f[1]));
  }
  ASSERT_GT(opposite["parent-offspring"].first, 0);
  EXPECT_EQ(opposite["parent-offspring"].second, 0);
  // Relatives that may share nothing at a locus do show opposite homozygotes,
  // so the check above is not vacuous; unrelated samples show them most.
  EXPECT_GT(opposite["full-siblings"].second, 0);
  EXPECT_GT(opposite["first-cousins"].second, 0);
  const long unrelated = count_opposite(vcf.column.at("U0001"), vcf.column.at("U0002"));
  EXPECT_GT(unrelated * opposite["full-siblings"].first, opposite["full-siblings"].second);

  // Each child haplotype comes from one parent: haplotype 0 from P1, 1 from M1.
  const int child = vcf.column.at("F1_C1"), p1 = vcf.column.at("F1_P1"), m1 = vcf.column.at("F1_M1");
  for (const auto& row : vcf.rows) {
    if (missing(row[child]) || missing(row[p1]) || missing(row[m1])) continue;
    ASSERT_TRUE(row[child][0] == row[p1][0] || row[child][0] == row[p1][2]) << row[1];
    ASSERT_TRUE(row[child][2] == row[m1][0] || row[child][2] == row[m1][2]) << row[1];
  }
}

TEST(SimulateCohort, TruthFileNamesEveryRelationship) {
  TempDir dir;
  const std::string truth_path = dir.file("truth.txt");
  generate({"--samples", "200", "--variants", "10"}, truth_path);
  std::map<std::string, int> pairs;
  std::map<std::string, std::string> sharing;
  for (const std::string& line : split(read_file(truth_path), '\n')) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = split(line, '\t');
    EXPECT_EQ(f[0].substr(0, 3), f[1].substr(0, 3)) << "relatives belong to one family";
    ++pairs[f[2]];
    sharing[f[2]] = f[3] + " " + f[4] + " " + f[5] + " " + f[6];
  }
  // 200 samples hold 6 families of 12.
  EXPECT_EQ(pairs["parent-offspring"], 6 * 14);
  EXPECT_EQ(pairs["full-siblings"], 6 * 3);
  EXPECT_EQ(pairs["half-siblings"], 6 * 2);
  EXPECT_EQ(pairs["first-cousins"], 6 * 6);
  EXPECT_EQ(pairs["grandparent-grandchild"], 6 * 10);
  EXPECT_EQ(pairs["avuncular"], 6 * 5);
  EXPECT_EQ(pairs.count("other"), 0u);
  EXPECT_EQ(sharing["parent-offspring"], "0.2500 0.0000 1.0000 0.0000");
  EXPECT_EQ(sharing["full-siblings"], "0.2500 0.2500 0.5000 0.2500");
  EXPECT_EQ(sharing["half-siblings"], "0.1250 0.5000 0.5000 0.0000");
  EXPECT_EQ(sharing["first-cousins"], "0.0625 0.7500 0.2500 0.0000");
}

TEST(SimulateCohort, MissingCallsAndAlleleFrequencies) {
  const std::vector<std::string> base = {"--samples", "100", "--variants", "4000", "--seed", "3"};
  auto with_missing = [&](const char* rate) {
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--missing", rate});
    return parse_vcf(generate(args));
  };
  const Vcf none = with_missing("0");
  const Vcf some = with_missing("0.05");
  ASSERT_EQ(none.rows.size(), some.rows.size());
  long calls = 0, missed = 0, rare = 0;
  for (size_t v = 0; v < some.rows.size(); ++v) {
    int alt = 0;
    for (size_t c = 9; c < some.rows[v].size(); ++c) {
      const std::string& call = some.rows[v][c];
      ++calls;
      ASSERT_FALSE(missing(none.rows[v][c]));
      if (missing(call)) ++missed;
      else ASSERT_EQ(call, none.rows[v][c]) << "the missing rate must not change genotypes";
      alt += dosage(none.rows[v][c]);
    }
    const double freq = alt / 200.0;
    if (std::min(freq, 1 - freq) < 0.06) ++rare;
  }
  EXPECT_NEAR(static_cast<double>(missed) / calls, 0.05, 0.005);
  // Minor-allele frequencies are drawn in 0.05..0.5, so most variants pass
  // palvane's default 0.06 filter.
  EXPECT_LT(rare, 4000 / 10);
}

TEST(SimulateCohort, SmallAndBadSizes) {
  TempDir dir;
  // Too few samples for a family: all unrelated, and an empty truth list.
  ASSERT_EQ(run_simulator(dir, {"--samples", "5", "--variants", "0", "--plain", "--out", "t.vcf",
                                "--truth", "t.txt"}).status, 0);
  const Vcf tiny = parse_vcf(read_file(dir.file("t.vcf")));
  EXPECT_EQ(tiny.header.size(), 14u);
  EXPECT_TRUE(tiny.rows.empty());
  EXPECT_EQ(split(read_file(dir.file("t.txt")), '\n').size(), 2u);  // the two comment lines

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--samples", "0"}, {"--samples", "12x"}, {"--variants", "-4"}, {"--missing", "1.5"},
           {"--families", "3", "--samples", "35"}, {"--colour", "red"}, {"--seed"}}) {
    RunResult r = run_simulator(dir, bad);
    EXPECT_EQ(r.status, 1) << bad[0];
    EXPECT_NE(r.err.find("simulate_cohort: "), std::string::npos) << r.err;
  }
}
