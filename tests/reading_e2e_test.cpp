// Reading a VCF file end to end: the built palvane binary on files written by
// the test, plain, gzip and BGZF, read through the whole threaded pipeline.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/four_sample_vcf.h"
#include "tests/line_pattern.h"
#include "tests/test_util.h"

namespace {

enum class Packing { kPlain, kGzip, kBgzf };

const char* packing_name(Packing p) {
  return p == Packing::kPlain ? "plain" : p == Packing::kGzip ? "gzip" : "BGZF";
}

void write_input(const std::string& path, const std::string& text, Packing packing) {
  if (packing == Packing::kPlain)
    write_file(path, text);
  else if (packing == Packing::kGzip)
    write_gzip(path, text);
  else
    write_bgzf(path, text);
}

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
  write_input(dir.file("in.vcf"), text, packing);
  more.insert(more.end(), {"--cpu", "1", "--segments"});
  Outcome o{run_palvane(dir, four_sample_args(more)), read_file(dir.file("run.ibd")),
            read_file(dir.file("run.segments"))};
  return o;
}

// Removes the reading progress lines from `out` and returns how many there were.
int remove_progress_lines(std::string& out) {
  static const LinePattern progress(
      "      -      [ 0-9]{9}[0-9] variants read -  [ 0-9]{9}[0-9] variants kept - [ 0-9]{6}[0-9] "
      "MB "
      "- speed: +[0-9]+\\.[0-9][0-9] MB/sec ");
  std::string kept;
  int n = 0;
  for (size_t start = 0, end; start < out.size(); start = end + 1) {
    end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    if (progress.matches(line))
      ++n;
    else
      kept += line + (end < out.size() ? "\n" : "");
  }
  out = kept;
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

TEST(ReadingEndToEnd, PlainGzipAndBgzfWithOrWithoutAFinalNewlineReadAlike) {
  const Outcome reference = run_on(four_sample_vcf(), Packing::kPlain);
  ASSERT_EQ(reference.run.status, 0) << reference.run.out << reference.run.err;
  EXPECT_EQ(reading_section(reference.run.out), kReadingSection);
  EXPECT_EQ(reference.ibd, read_file(PALVANE_TEST_DATA "/four_samples_tolerant.ibd"));
  for (Packing packing : {Packing::kPlain, Packing::kGzip, Packing::kBgzf})
    for (bool final_newline : {true, false}) {
      if (packing == Packing::kPlain && final_newline) continue;  // the reference
      const Outcome o = run_on(four_sample_vcf(final_newline), packing);
      const std::string label =
          std::string(packing_name(packing)) + (final_newline ? "" : " without final newline");
      EXPECT_EQ(o.run.status, 0) << label << "\n" << o.run.err;
      EXPECT_EQ(reading_section(o.run.out), kReadingSection) << label;
      EXPECT_EQ(o.ibd, reference.ibd) << label;
      EXPECT_EQ(o.segments, reference.segments) << label;
    }
}

TEST(ReadingEndToEnd, TinyBlocksSplitLinesAnywhereAndGrowthKeepsEveryGenotype) {
  const Outcome reference = run_on(four_sample_vcf(), Packing::kBgzf);
  ASSERT_EQ(reference.run.status, 0);
  // The file is about 23,700 bytes: two-byte blocks pass the 4990th and the
  // 9990th block, each followed by a progress line.
  for (auto [buffer, progress_lines] : {std::pair{"64", 0}, {"7", 0}, {"2", 2}}) {
    Outcome o = run_on(four_sample_vcf(false), Packing::kBgzf, {"--buffer", buffer});
    EXPECT_EQ(o.run.status, 0) << buffer;
    EXPECT_EQ(remove_progress_lines(o.run.out), progress_lines) << buffer;
    EXPECT_EQ(reading_section(o.run.out), kReadingSection) << buffer;
    EXPECT_EQ(o.ibd, reference.ibd) << buffer;
    EXPECT_EQ(o.segments, reference.segments) << buffer;
  }

  // A matrix of 100 rows doubles at the data lines that find 100, 200 and 400
  // variants retained before them; the reports do not change.
  const Outcome grown = run_on(four_sample_vcf(), Packing::kPlain, {"--nvar", "100"});
  auto growth = [](int rows) {
    return "      -   Allocation genotype vector  npeople=20 nvars=" + std::to_string(rows) +
           "\n      -   GenotypeMatrix: allocating 0 MB of memory\n";
  };
  std::string expected = kReadingSection;
  expected = changed(expected, 0, "nvars=200000", "nvars=100");
  expected = changed(expected, 0, "allocating 3 MB", "allocating 0 MB");
  expected = changed(expected, 0, "      -   Reading chromosome 2",
                     growth(200) + growth(400) + "      -   Reading chromosome 2");
  expected =
      changed(expected, 0, "      -   Chromosome   1", growth(800) + "      -   Chromosome   1");
  EXPECT_EQ(reading_section(grown.run.out), expected);
  EXPECT_EQ(grown.ibd, reference.ibd);
  EXPECT_EQ(grown.segments, reference.segments);
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
  const std::string too_few =
      "\nError: Too few variants for analysis, palvane works best with >10k "
      "variants selected \n";
  struct Case {
    const char* name;
    std::optional<std::string> input;  // written as is; none for an absent file
    int status;
    std::string out_end;  // how standard output ends
  };
  const std::vector<Case> cases = {
      {"FORMAT not GT", changed(good, line_300, "\tGT\t", "\tGQ:GT\t"), 1,
       "\nError: Bad or not supported VCF format. Column 8 should start with 'GT' field. \n"},
      // Wrong in both: the FORMAT test comes first.
      {"FORMAT and count", changed(good, line_300, "\tGT\t0/1\t0|1\t", "\tAB\t0/1\t"), 1,
       "\nError: Bad or not supported VCF format. Column 8 should start with 'GT' field. \n"},
      {"a sample column missing", changed(good, line_300, "\t./.\n", "\n"), 2,
       "\nError: VCF file seems corrupted. Expected 13 items in line but got 12\n"},
      {"a blank before the newline", changed(good, line_300, "\t./.\n", "\t./. \n"), 2,
       "\nError: VCF file seems corrupted. Expected 13 items in line but got 14\n"},
      {"data line before the column header", data_line_first, 1,
       "Error: VCF file seems corrupted. Data line 3 comes before the column header line\n"},
      {"second column header", changed(good, line_300, "\n1\t298000", "\n" + header + "1\t298000"),
       1, "Error: VCF file seems corrupted. Second column header line at line 302\n"},
      {"column header of eight columns",
       changed(good, 0, "\tINFO\tFORMAT\tA\tB\tC\tD\n", "\tINFO\n"), 1,
       "Error: VCF file seems corrupted. Column header line has 8 items but needs at least 9\n"},
      {"499 variants", good.substr(0, good.find("\n2\t199000\t") + 1), 2, too_few},
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
    EXPECT_TRUE(file_exists(dir.file("run.ibd")) && file_exists(dir.file("run.segments")))
        << c.name;
    EXPECT_EQ(read_file(dir.file("run.ibd")), "") << c.name;
    EXPECT_EQ(read_file(dir.file("run.segments")), "") << c.name;
  }
}

TEST(ReadingEndToEnd, LongLinesAndAChromosomeNamedHyphenAreReadWhole) {
  const std::string good = four_sample_vcf();
  const Outcome reference = run_on(good, Packing::kPlain);
  // One data line of 3,100,000 bytes, longer than a line buffer.
  const std::string long_info = "1\t101000\t.\tA\tG\t.\tPASS\t" + std::string(3100000, 'x') + "\t";
  const Outcome long_line =
      run_on(changed(good, 0, "1\t101000\t.\tA\tG\t.\tPASS\t.\t", long_info), Packing::kBgzf);
  EXPECT_EQ(long_line.run.status, 0);
  EXPECT_EQ(reading_section(long_line.run.out), kReadingSection);
  EXPECT_EQ(long_line.ibd, reference.ibd);
  EXPECT_EQ(long_line.segments, reference.segments);

  // A first chromosome named "-" is a chromosome like any other.
  std::string hyphen = good;
  for (size_t at = 0; (at = hyphen.find("\n1\t", at)) != std::string::npos;) hyphen[++at] = '-';
  const Outcome renamed = run_on(hyphen, Packing::kPlain);
  EXPECT_EQ(renamed.run.status, 0);
  EXPECT_EQ(reading_section(renamed.run.out),
            changed(kReadingSection, 0, "chromosome 1 (", "chromosome - ("));
  EXPECT_EQ(renamed.ibd, reference.ibd);
  std::string segments = reference.segments;  // a segment line's CHROM ends in its 44th column
  for (size_t at = 0; (at = segments.find("\nIBD", at)) != std::string::npos; ++at)
    if (segments[at + 44] == '1') segments[at + 44] = '-';
  EXPECT_EQ(renamed.segments, segments);
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
  EXPECT_EQ(reading_section(many_samples.run.out),
            "      -   Input file name: in.vcf\n"
            "      -   Opening output file run.ibd  \n"
            "      -   Opening output file run.segments  \n"
            "      -   Number of samples: 30001\n\n"
            "      -   Allocation genotype vector  npeople=30017 nvars=4\n"
            "      -   GenotypeMatrix: allocating 0 MB of memory\n"
            "      -   Excluding variants with missing rate > 0.250 (7500 samples)\n\n"
            "      -   Excluding variants with allele frequency  < 0.060\n\n"
            "      -   Reading chromosome 7 (pos=0)\n"
            "      -   Chromosome   1    Markers        3    Cumulative        3\n");

  // 300 chromosomes of two variants each. Two identical samples share one run
  // of two variants per chromosome, below the thresholds; the strict scan,
  // blind to chromosomes, sees one run of 600.
  std::string chromosomes = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\n";
  for (int c = 1; c <= 300; ++c)
    for (const char* pos : {"100", "200"})
      chromosomes += "chr" + std::to_string(c) + "\t" + pos + "\t.\tA\tG\t.\t.\t.\tGT\t0/1\t0/1\n";
  const std::string row_start = "                 A                  B      600        0 ";
  const std::string tolerant_row =
      "    1.000000               2          0  0.000000               2          0  0.000000\n";
  const std::string strict_row =
      "    0.000000             600          1  0.000000             600          1  1.000000"
      "           NA      NA\n";
  for (auto [mode, row] : {std::pair{"2", tolerant_row}, {"0", strict_row}}) {
    const Outcome o = run_on(chromosomes, Packing::kPlain, {"--error", mode});
    EXPECT_EQ(o.run.status, 0) << mode;
    const std::string out = o.run.out;
    EXPECT_NE(out.find("      -   Reading chromosome chr300 (pos=598)\n"), std::string::npos);
    EXPECT_NE(out.find("      -   Chromosome 300    Markers        2    Cumulative      600\n"),
              std::string::npos);
    EXPECT_EQ(o.ibd.substr(o.ibd.find('\n') + 1), row_start + row) << "--error " << mode;
  }
}
