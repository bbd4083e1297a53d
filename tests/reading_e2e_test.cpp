// Reading a VCF file end to end: the built palvane binary on files written by
// the test, plain, gzip and BGZF, read through the whole threaded pipeline.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/four_sample_vcf.h"
#include "tests/line_pattern.h"
#include "tests/test_util.h"

namespace {

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

// Runs palvane on `text` written as in.vcf in a fresh folder, with one pair
// worker so that the reports are byte-identical from run to run.
Reports run_on(const std::string& text, Packing packing, std::vector<std::string> more = {}) {
  TempDir dir;
  const std::string path = dir.file("in.vcf");
  write_packed(path, text, packing);
  more.insert(more.end(), {"--cpu", "1", "--segments"});
  return run_and_read(dir, four_sample_args(more));
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
  const std::string ibd = read_file(PALVANE_TEST_DATA "/four_samples_tolerant.ibd"),
                    segments = read_file(PALVANE_TEST_DATA "/four_samples_tolerant.segments");
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
    Reports o = run_on(c.text, c.packing, c.args);
    EXPECT_EQ(o.run.status, 0) << c.label << "\n" << o.run.err;
    EXPECT_EQ(remove_progress_lines(o.run.out), c.progress_lines) << c.label;
    EXPECT_EQ(reading_section(o.run.out), c.section) << c.label;
    EXPECT_EQ(o.ibd, ibd) << c.label;
    EXPECT_EQ(o.segments, segments) << c.label;
  }
}

TEST(ReadingEndToEnd, MoreChromosomesThanTheFixedTableHolds) {
  // 300 chromosomes of two variants each. Two identical samples share one run
  // of two variants per chromosome, below the thresholds.
  std::string chromosomes = header_line({"A", "B"});
  for (int c = 1; c <= 300; ++c)
    for (int pos : {100, 200}) chromosomes += data_line("chr" + std::to_string(c), pos, {"0/1", "0/1"});
  const Reports o = run_on(chromosomes, Packing::kPlain);
  EXPECT_EQ(o.run.status, 0);
  EXPECT_NE(o.run.out.find("      -   Reading chromosome chr300 (pos=598)\n"), std::string::npos);
  EXPECT_NE(o.run.out.find("      -   Chromosome 300    Markers        2    Cumulative      600\n"),
            std::string::npos);
  EXPECT_EQ(o.ibd.substr(o.ibd.find('\n') + 1),
            "                 A                  B      600        0     1.000000               2"
            "          0  0.000000               2          0  0.000000\n");
}
