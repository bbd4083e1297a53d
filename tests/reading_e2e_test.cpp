// Reading a VCF file end to end: the built palvane binary on files written by
// the test, plain, gzip and BGZF, read through the whole threaded pipeline.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/four_sample_vcf.h"
#include "tests/line_pattern.h"
#include "tests/test_util.h"

namespace {
enum class Packing { kPlain, kGzip, kBgzf };

// What the reader prints for the four-sample file, from the input file name
// through the per-chromosome summary. The two filtered lines print nothing.
const std::string kReadingSection =
    "      -   Input file name: in.vcf\n"
    "      -   Opening output file run.ibd  \n"
    "      -   Opening output file run.segments  \n"
    "      -   Number of samples: 4\n\n"
    "      -   Allocation genotype vector  npeople=20 nvars=200000\n"
    "      -   GenotypeMatrix: allocating 3 MB of memory\n"
    "      -   Excluding variants with missing rate > 0.250 (1 samples)\n\n"
    "      -   Excluding variants with allele frequency  < 0.060\n\n"
    "      -   Reading chromosome 1 (pos=0)\n"
    "      -   Reading chromosome 2 (pos=301)\n"
    "      -   Chromosome   1    Markers      301    Cumulative      301\n"
    "      -   Chromosome   2    Markers      250    Cumulative      551\n";

// Standard output from "Input file name" up to the line that ends reading.
std::string reading_section(const std::string& out) {
  const size_t from = out.find("      -   Input file name:");
  const size_t to = out.find("\n[*]  Finished reading input files:");
  if (from == std::string::npos || to == std::string::npos || to < from) return "<no section>";
  return out.substr(from, to - from);
}

struct Outcome {
  RunResult run;
  std::string ibd, segments;
};

// Runs palvane on `text` written as in.vcf in a fresh folder, with one pair
// worker so that the reports are byte-identical from run to run.
Outcome run_on(const std::string& text, Packing packing, std::vector<std::string> more = {}) {
  TempDir dir;
  const std::string path = dir.file("in.vcf");
  if (packing == Packing::kPlain) write_file(path, text);
  if (packing == Packing::kGzip) write_gzip(path, text);
  if (packing == Packing::kBgzf) write_bgzf(path, text);
  more.insert(more.end(), {"--cpu", "1", "--segments"});
  return {run_palvane(dir, four_sample_args(more)), read_file(dir.file("run.ibd")),
          read_file(dir.file("run.segments"))};
}

// Removes the reading progress lines from `out` and returns how many there were.
int remove_progress_lines(std::string& out) {
  static const LinePattern progress(
      "      -      [ 0-9]{9}[0-9] variants read -  [ 0-9]{9}[0-9] variants kept - [ 0-9]{6}[0-9] "
      "MB - speed: +[0-9]+\\.[0-9][0-9] MB/sec ");
  std::istringstream in(out);
  out.clear();
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    if (progress.matches(line))
      ++n;
    else
      out += line + "\n";
  }
  return n;
}

// `text` with the first occurrence of `from` after byte `after` replaced by `to`.
std::string changed(std::string text, size_t after, const std::string& from,
                    const std::string& to) {
  const size_t at = text.find(from, after);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}
}  // namespace

TEST(ReadingEndToEnd, EveryPackingBlockSizeAndLineLengthReadsAlike) {
  const Outcome reference = run_on(four_sample_vcf(), Packing::kPlain);
  ASSERT_EQ(reference.run.status, 0) << reference.run.out << reference.run.err;
  EXPECT_EQ(reading_section(reference.run.out), kReadingSection);
  EXPECT_EQ(reference.ibd, read_file(PALVANE_TEST_DATA "/four_samples_tolerant.ibd"));

  const std::string good = four_sample_vcf(), unended = four_sample_vcf(false);
  // A data line of 3,100,000 bytes, longer than a line buffer.
  const std::string long_line =
      changed(good, 0, "1\t101000\t.\tA\tG\t.\tPASS\t.\t",
              "1\t101000\t.\tA\tG\t.\tPASS\t" + std::string(3100000, 'x') + "\t");
  // A matrix of 100 rows doubles at the data lines that find 100, 200 and 400
  // variants retained before them.
  auto growth = [](int rows) {
    return "      -   Allocation genotype vector  npeople=20 nvars=" + std::to_string(rows) +
           "\n      -   GenotypeMatrix: allocating 0 MB of memory\n";
  };
  std::string grown =
      changed(kReadingSection, 0, "nvars=200000\n      -   GenotypeMatrix: allocating 3",
              "nvars=100\n      -   GenotypeMatrix: allocating 0");
  grown = changed(grown, 0, "      -   Reading chromosome 2",
                  growth(200) + growth(400) + "      -   Reading chromosome 2");
  grown = changed(grown, 0, "      -   Chromosome   1", growth(800) + "      -   Chromosome   1");
  struct Case {
    const char* label;
    const std::string& text;
    Packing packing;
    std::vector<std::string> args = {};
    int progress_lines = 0;
    const std::string& section = kReadingSection;
  };
  const Case cases[] = {
      {"plain, no final newline", unended, Packing::kPlain},
      {"gzip, no final newline", unended, Packing::kGzip},
      {"BGZF, no final newline", unended, Packing::kBgzf},
      {"long line", long_line, Packing::kBgzf},
      // Blocks of 2 bytes split lines anywhere; the file is about 23,700 bytes,
      // so they pass the 4990th and the 9990th block, each followed by a
      // progress line.
      {"--buffer 2", unended, Packing::kBgzf, {"--buffer", "2"}, 2},
      {"--nvar 100", good, Packing::kPlain, {"--nvar", "100"}, 0, grown},
  };
  for (const Case& c : cases) {
    Outcome o = run_on(c.text, c.packing, c.args);
    EXPECT_EQ(o.run.status, 0) << c.label << "\n" << o.run.err;
    EXPECT_EQ(remove_progress_lines(o.run.out), c.progress_lines) << c.label;
    EXPECT_EQ(reading_section(o.run.out), c.section) << c.label;
    EXPECT_EQ(o.ibd, reference.ibd) << c.label;
    EXPECT_EQ(o.segments, reference.segments) << c.label;
  }
}

TEST(ReadingEndToEnd, InputErrorsEndTheRunWithTheirStatusAndEmptyReports) {
  const std::string good = four_sample_vcf();
  const size_t line_300 = good.find("\n1\t298000\t");  // well inside the data
  std::string truncated_bgzf;
  {
    TempDir scratch;
    write_bgzf(scratch.file("x"), good);
    truncated_bgzf = read_file(scratch.file("x"));
    truncated_bgzf.resize(truncated_bgzf.size() / 2);  // cut inside the data block
  }
  const size_t header_at = good.find("#CHROM");
  const std::string header = good.substr(header_at, good.find('\n', header_at) + 1 - header_at);
  std::string data_line_first = good;
  data_line_first.erase(header_at, header.size());
  data_line_first.insert(data_line_first.find("\n1\t2000\t") + 1, header);
  const std::string not_gt =
      "\nError: Bad or not supported VCF format. Column 8 should start with 'GT' field. \n";
  const std::string count = "\nError: VCF file seems corrupted. Expected 13 items in line but got ";
  const std::string too_few =
      "\nError: Too few variants for analysis, palvane works best with >10k variants selected \n";
  struct Case {
    const char* name;
    std::optional<std::string> input;  // written as is; none for an absent file
    int status;
    std::string out_end;  // how standard output ends
  };
  const std::vector<Case> cases = {
      {"FORMAT not GT", changed(good, line_300, "\tGT\t", "\tGQ:GT\t"), 1, not_gt},
      // Wrong in both: the FORMAT test comes first.
      {"FORMAT and count", changed(good, line_300, "\tGT\t0/1\t0|1\t", "\tAB\t0/1\t"), 1, not_gt},
      {"a sample column missing", changed(good, line_300, "\t./.\n", "\n"), 2, count + "12\n"},
      {"an empty line", changed(good, line_300, "\n1\t298000", "\n\n1\t298000"), 2, count + "1\n"},
      {"data line before the column header", data_line_first, 1,
       "Error: VCF file seems corrupted. Data line 3 comes before the column header line\n"},
      {"second column header", changed(good, line_300, "\n1\t298000", "\n" + header + "1\t298000"),
       1, "Error: VCF file seems corrupted. Second column header line at line 302\n"},
      {"column header of eight columns",
       changed(good, 0, "\tINFO\tFORMAT\tA\tB\tC\tD\n", "\tINFO\n"), 1,
       "Error: VCF file seems corrupted. Column header line has 8 items but needs at least 9\n"},
      {"empty input", "", 2, too_few},
      {"input absent", std::nullopt, 1, "\nError: Cannot open input file: in.vcf\n\n"},
      {"truncated BGZF", truncated_bgzf, 1,
       "\nError while reading input file: Corrupted VCF file?\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (c.input) write_file(dir.file("in.vcf"), *c.input);
    // Reports left by an earlier run are replaced by empty files.
    write_file(dir.file("run.ibd"), "old rows\n");
    write_file(dir.file("run.segments"), "old segments\n");
    const RunResult r = run_palvane(dir, four_sample_args());
    EXPECT_EQ(r.status, c.status) << c.name;
    ASSERT_GE(r.out.size(), c.out_end.size()) << c.name;
    EXPECT_EQ(r.out.substr(r.out.size() - c.out_end.size()), c.out_end) << c.name << "\n" << r.out;
    EXPECT_TRUE(file_exists(dir.file("run.ibd")) && file_exists(dir.file("run.segments")));
    EXPECT_EQ(read_file(dir.file("run.ibd")) + read_file(dir.file("run.segments")), "") << c.name;
  }
}

TEST(ReadingEndToEnd, MoreSamplesAndChromosomesThanTheFixedTablesHold) {
  // 30,001 samples: 30,010 columns, more than a token record holds at first.
  // Three variants are read, then the run stops for too few.
  std::string wide = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (int s = 0; s <= 30000; ++s) wide += "\tS" + std::to_string(s);
  wide += "\n";
  for (int v = 1; v <= 3; ++v) {
    wide += "7\t" + std::to_string(v * 100) + "\t.\tA\tG\t.\tPASS\t.\tGT";
    for (int s = 0; s <= 30000; ++s) wide += s % 3 == v % 3 ? "\t0/1" : "\t0|0";
    wide += "\n";
  }
  const Outcome many_samples = run_on(wide, Packing::kGzip, {"--nvar", "4"});
  EXPECT_EQ(many_samples.run.status, 2);
  for (const char* line : {"Number of samples: 30001\n", "(7500 samples)\n",
                           "Chromosome   1    Markers        3    Cumulative        3\n"})
    EXPECT_NE(reading_section(many_samples.run.out).find(line), std::string::npos) << line;

  // 300 chromosomes of two variants each. Two identical samples share one run
  // of two variants per chromosome, below the thresholds.
  std::string chromosomes = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\n";
  for (int c = 1; c <= 300; ++c)
    for (const char* pos : {"100", "200"})
      chromosomes += "chr" + std::to_string(c) + "\t" + pos + "\t.\tA\tG\t.\t.\t.\tGT\t0/1\t0/1\n";
  const Outcome o = run_on(chromosomes, Packing::kPlain);
  EXPECT_EQ(o.run.status, 0);
  EXPECT_NE(o.run.out.find("      -   Reading chromosome chr300 (pos=598)\n"), std::string::npos);
  EXPECT_NE(o.run.out.find("      -   Chromosome 300    Markers        2    Cumulative      600\n"),
            std::string::npos);
  EXPECT_EQ(o.ibd.substr(o.ibd.find('\n') + 1),
            "                 A                  B      600        0     1.000000               2"
            "          0  0.000000               2          0  0.000000\n");
}
