// Whole runs of the built binary on inputs and paths that palvane's users get
// wrong: each must end with its message on the right stream and its exit
// status, never crash, hang or report success after losing data. The
// inputs that the fuzzers found are kept here too.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/text_lines.h"
#include "tests/vcf_text.h"

namespace {

const std::string kTooFew =
    "Error: Too few variants for analysis, palvane works best with >10k variants selected ";
const std::string kCorrupted = "Error while reading input file: Corrupted VCF file?";
const std::string kFinished = "[*] Finished processing ";
const std::string kNotGt =
    "Error: Bad or not supported VCF format. Column 8 should start with 'GT' field. ";

std::string markers_line(int chromosome, int markers, int cumulative) {
  char line[128];
  snprintf(line, sizeof line, "      -   Chromosome %3d    Markers %8d    Cumulative %8d",
           chromosome, markers, cumulative);
  return line;
}

bool has_line(const std::string& text, const std::string& wanted) {
  for (const std::string& line : lines_of(text))
    if (line == wanted) return true;
  return false;
}

// BGZF without its end-of-file block: every data block complete.
std::string without_eof_block(const std::string& bgzf) { return bgzf.substr(0, bgzf.size() - 28); }

// Whether /sys is sysfs, where no file can be created, not even by root.
bool sys_is_sysfs() {
  struct statfs fs;
  return statfs("/sys", &fs) == 0 && fs.f_type == SYSFS_MAGIC;
}

// The system's text for the error of creating path in sysfs: EACCES, or
// EROFS where it is mounted read-only.
std::string sysfs_create_error(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0660);
  if (fd >= 0) close(fd);
  return fd >= 0 ? "created" : strerror(errno);
}

enum class Stream { kOut, kErr };

struct BadInput {
  std::string name;
  std::function<void(const TempDir&)> make;  // writes the input, by default "in"
  std::vector<std::string> args;             // after --vcf in --out out --cpu 2, or instead
  int status;
  // A failing run's message ends standard output (a "\n" at its end stands for
  // a blank line after it) or is the first line of standard error; a complete
  // run prints its message line on standard output, "Finished processing" and
  // nothing on standard error.
  Stream stream;
  std::string message;
  std::vector<std::string> also_out = {};  // texts standard output must hold as well
};

void PrintTo(const BadInput& c, std::ostream* out) { *out << c.name; }

std::function<void(const TempDir&)> text_input(std::function<std::string()> text) {
  return [text](const TempDir& dir) { write_file(dir.file("in"), text()); };
}

std::function<void(const TempDir&)> data_file(const std::string& name) {
  return [name](const TempDir& dir) {
    write_file(dir.file("in"), read_file(std::string(PALVANE_TEST_DATA) + "/bad/" + name));
  };
}

// A BGZF cohort of about 150 blocks, then cut. With threaded decompression
// htslib hands over nothing of a batch of 64 blocks that holds a damaged
// one, so the data must run well past the first batch.
std::function<void(const TempDir&)> bgzf_input(std::function<std::string(std::string)> cut) {
  return [cut](const TempDir& dir) {
    Cohort c(3, 600);
    c.edit = [](int, std::vector<std::string>& columns) { columns[7] = std::string(16000, 'i'); };
    write_bgzf(dir.file("in"), c.text());
    write_file(dir.file("in"), cut(read_file(dir.file("in"))));
  };
}

std::vector<BadInput> bad_inputs() {
  std::vector<BadInput> cases = {
      {"EmptyFile", text_input([] { return ""; }), {}, 2, Stream::kOut, kTooFew},
      {"NotVcfText", data_file("not_vcf.txt"), {}, 1, Stream::kOut,
       "Error: VCF file seems corrupted. Data line 1 comes before the column header line"},
      {"BinaryGarbage", data_file("binary_garbage.bin"), {}, 1, Stream::kOut,
       "Error: VCF file seems corrupted. Data line 1 comes before the column header line"},
      {"TruncatedGzip",
       [](const TempDir& dir) {
         write_gzip(dir.file("in"), Cohort(3, 3000).text());
         const std::string whole = read_file(dir.file("in"));
         write_file(dir.file("in"), whole.substr(0, whole.size() / 2));
       },
       {}, 1, Stream::kOut, kCorrupted},
      {"TruncatedBgzfMidBlock",
       bgzf_input([](std::string whole) { return whole.substr(0, whole.size() * 3 / 4); }),
       // Small blocks, so that the driver's progress line shows reading under way.
       {"--buffer", "512"}, 1, Stream::kOut, kCorrupted, {" variants read - "}},
      // Nothing but the end-of-file marker tells this cut from a whole file:
      // htslib's warning is the user's only sign, so it must get through.
      {"BgzfCutBetweenBlocks", bgzf_input(without_eof_block), {}, 0, Stream::kErr,
       "[W::bgzf_read_block] EOF marker is absent. The input may be truncated"},
      {"Retained499", text_input([] { return Cohort(3, 499).text(); }), {}, 2, Stream::kOut,
       kTooFew},
      {"Retained500", text_input([] { return Cohort(3, 500).text(); }), {}, 0, Stream::kOut,
       markers_line(1, 500, 500)},
      {"HeaderLineOnly", data_file("header_only.vcf"), {}, 2, Stream::kOut, kTooFew},
      {"NineColumnHeaderHasNoSamples", data_file("no_samples.vcf"), {}, 2, Stream::kOut, kTooFew,
       {"      -   Number of samples: 0\n"}},
      {"HeaderOfFewerThanNineColumns", data_file("short_header.vcf"), {}, 1, Stream::kOut,
       "Error: VCF file seems corrupted. Column header line has 5 items but needs at least 9"},
      {"DataLineBeforeHeader", data_file("data_before_header.vcf"), {}, 1, Stream::kOut,
       "Error: VCF file seems corrupted. Data line 2 comes before the column header line"},
      {"SecondHeaderLine", data_file("second_header.vcf"), {}, 1, Stream::kOut,
       "Error: VCF file seems corrupted. Second column header line at line 3"},
      {"OneColumnTooMany", data_file("one_column_too_many.vcf"), {}, 2, Stream::kOut,
       "Error: VCF file seems corrupted. Expected 11 items in line but got 12"},
      {"OneColumnTooFew", data_file("one_column_too_few.vcf"), {}, 2, Stream::kOut,
       "Error: VCF file seems corrupted. Expected 11 items in line but got 10"},
      {"FormatNotStartingWithGt", data_file("format_not_gt.vcf"), {}, 1, Stream::kOut, kNotGt},
      // Wrong in both, well inside the data: the FORMAT test comes first.
      {"WrongFormatAndColumnCount", text_input([] {
         return edited(3, 600, [](int v, auto& c) {
                  if (v == 300) c[8] = "AB", c.pop_back();
                }).text();
       }),
       {}, 1, Stream::kOut, kNotGt},
      {"EmptyLineAmongTheData", text_input([] {
         return edited(3, 600, [](int v, auto& c) {
                  if (v == 300) c.clear();
                }).text();
       }),
       {}, 2, Stream::kOut, "Error: VCF file seems corrupted. Expected 12 items in line but got 1"},
      {"NulBytesInsideLines", text_input([] {
         return edited(3, 600, [](int v, std::vector<std::string>& c) {
                  c[7] = std::string("A\0B", 3);
                  if (v == 7) c[9] = std::string("\0/1", 3);  // a no-call, not an end of line
                }).text();
       }),
       // The variant with the no-call fails the default missing rate.
       {}, 0, Stream::kOut, markers_line(1, 599, 599)},
      // strtol reads such a POS as 0: every variant at 0, a genome of no
      // length, so the genome-size floor cannot apply.
      {"PosNotANumber",
       text_input([] { return edited(3, 600, [](int, auto& c) { c[1] = "pos"; }).text(); }), {},
       0, Stream::kErr,
       "Warning: genome size 0.000000 kb is below 1 kb, so the genome-size floor of the IBD1 "
       "threshold is skipped"},
      // 30001 columns are taken in full: one more in a data line is counted, not cut.
      {"MoreThan30000Columns", text_input([] {
         return edited(29992, 2, [](int v, auto& c) {
                  if (v == 1) c.push_back("0/1");
                }).text();
       }),
       {}, 2, Stream::kOut,
       "Error: VCF file seems corrupted. Expected 30001 items in line but got 30002"},
      // 30,001 samples, more than a token record holds at first, read in full.
      {"MoreThan30000Samples", text_input([] { return Cohort(30001, 3).text(); }), {"--nvar", "4"},
       2, Stream::kOut, kTooFew,
       {"Number of samples: 30001\n", "(600 samples)\n", markers_line(1, 3, 3) + "\n"}},
      {"InputDoesNotExist", nullptr, {"--vcf", "missing.vcf", "--out", "out"}, 1, Stream::kOut,
       "Error: Cannot open input file: missing.vcf\n"},
      {"InputIsADirectory",
       [](const TempDir& dir) { std::filesystem::create_directory(dir.file("in")); }, {}, 1,
       Stream::kOut, "Error: Cannot open input file: in\n"},
      {"OutputFolderDoesNotExist", text_input([] { return Cohort().text(); }),
       {"--vcf", "in", "--out", "missing/out"}, 1, Stream::kErr,
       "Cannot write to the output files: No such file or directory"},
  };
  // A folder not writable even by root (CI runs as root); only where /sys
  // really is sysfs, so that nothing can be written outside the test folder.
  if (sys_is_sysfs()) {
    cases.push_back({"OutputFolderNotWritable", text_input([] { return Cohort().text(); }),
                     {"--vcf", "in", "--out", "/sys/palvane_out"}, 1, Stream::kErr,
                     "Cannot write to the output files: " +
                         sysfs_create_error("/sys/palvane_out.options")});
  }
  return cases;
}

class BadInputTest : public testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, EndsWithItsMessageAndStatus) {
  const BadInput& c = GetParam();
  TempDir dir;
  if (c.make) c.make(dir);
  write_file(dir.file("out.ibd"), "rows of an earlier run\n");
  write_file(dir.file("out.segments"), "segments of an earlier run\n");
  std::vector<std::string> args = {"--vcf", "in", "--out", "out", "--cpu", "2"};
  if (!c.args.empty() && c.args[0] == "--vcf") {
    args = c.args;
  } else {
    args.insert(args.end(), c.args.begin(), c.args.end());
  }
  const RunResult run = run_palvane(dir, args, 120);

  const std::string where = "\n--- stdout tail:\n" +
                            run.out.substr(run.out.size() > 1500 ? run.out.size() - 1500 : 0) +
                            "\n--- stderr:\n" + run.err.substr(0, 1500);
  ASSERT_EQ(run.status, c.status) << where;
  if (c.status == 0) {
    EXPECT_TRUE(has_line(run.out, kFinished)) << where;
    if (c.stream == Stream::kOut) {
      EXPECT_TRUE(has_line(run.out, c.message)) << where;
      EXPECT_EQ(run.err, "") << where;
    }
  } else if (c.stream == Stream::kOut) {
    const std::string end = "\n" + c.message + "\n";
    EXPECT_TRUE(run.out.size() >= end.size() && run.out.ends_with(end)) << where;
    // The reports of an earlier run are replaced by empty files.
    for (const char* suffix : {".ibd", ".segments"}) {
      EXPECT_TRUE(file_exists(dir.file(std::string("out") + suffix))) << suffix;
      EXPECT_EQ(read_file(dir.file(std::string("out") + suffix)), "") << suffix;
    }
  }
  if (c.stream == Stream::kErr) {
    const std::vector<std::string> err = lines_of(run.err);
    EXPECT_EQ(err.empty() ? "" : err[0], c.message) << where;
  }
  for (const std::string& text : c.also_out)
    EXPECT_NE(run.out.find(text), std::string::npos) << text << where;
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputTest, testing::ValuesIn(bad_inputs()),
                         [](const testing::TestParamInfo<BadInput>& info) {
                           return info.param.name;
                         });

TEST(BadInputReports, CrlfLineEndsGiveTheRowsOfLfLineEnds) {
  TempDir dir;
  // Every other line ends in a haploid call, whose column then reads "1\r".
  Cohort c = edited(4, 600, [](int v, std::vector<std::string>& columns) {
    if (v % 2) columns.back().resize(1);
  });
  write_file(dir.file("lf"), c.text());
  c.eol = "\r\n";
  write_file(dir.file("crlf"), c.text());
  ASSERT_EQ(run_palvane(dir, {"--vcf", "lf", "--out", "lf"}, 120).status, 0);
  // The carriage return stays part of the last column; the genotype's first
  // and third characters still read right, and a haploid call still reads as
  // one, so nothing is lost.
  const RunResult crlf = run_palvane(dir, {"--vcf", "crlf", "--out", "crlf"}, 120);
  ASSERT_EQ(crlf.status, 0);
  EXPECT_EQ(crlf.err, "");
  // Workers interleave their rows: compare them sorted.
  const std::vector<std::string> rows = sorted_lines(read_file(dir.file("lf.ibd")));
  EXPECT_EQ(rows.size(), 1u + 6u);  // header and the 6 pairs
  EXPECT_EQ(sorted_lines(read_file(dir.file("crlf.ibd"))), rows);
  // The last sample's name has no carriage return: --pair finds it.
  const RunResult pair = run_palvane(dir, {"--vcf", "crlf", "--out", "pair", "--pair", "S0", "S3"}, 120);
  EXPECT_EQ(pair.status, 0) << pair.out << pair.err;
}

// A read error ends the process from the main thread while the reader still
// works through the lines it has queued, here closing a chromosome every
// other line: nothing it writes may have been freed by then (a fault shows
// only in the sanitizer builds, and only in some runs, hence the repeats).
TEST(BadInputReports, ReadErrorWhileTheReaderClosesChromosomes) {
  TempDir dir;
  Cohort c(10, 40000);
  c.edit = [](int v, std::vector<std::string>& columns) { columns[0] = std::to_string(v / 2); };
  write_bgzf(dir.file("in"), c.text());
  const std::string whole = read_file(dir.file("in"));
  write_file(dir.file("in"), whole.substr(0, whole.size() * 3 / 4));
  for (int i = 0; i < 10; ++i) {
    const RunResult run = run_palvane(dir, {"--vcf", "in", "--out", "out", "--cpu", "2"}, 120);
    ASSERT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(has_line(run.out, kCorrupted)) << run.out;  // the reader may print on after it
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
  }
}

// Names of 3000 characters make rows longer than any fixed line buffer: each
// row must still be written whole.
TEST(BadInputReports, VeryLongSampleNamesKeepWholeRows) {
  TempDir dir;
  Cohort c{4, 600};
  c.name_prefix = std::string(3000, 'n');
  write_file(dir.file("in"), c.text());
  const RunResult run = run_palvane(dir, {"--vcf", "in", "--out", "out"}, 120);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<std::string> rows = lines_of(read_file(dir.file("out.ibd")));
  ASSERT_EQ(rows.size(), 1u + 6u);
  for (size_t r = 1; r < rows.size(); ++r) {  // after the header
    std::istringstream fields(rows[r]);
    const std::vector<std::string> row{std::istream_iterator<std::string>(fields),
                                       std::istream_iterator<std::string>()};
    ASSERT_EQ(row.size(), 11u);
    EXPECT_EQ(row[0].size() + row[1].size(), 2u * 3001u);
  }
}

}  // namespace
