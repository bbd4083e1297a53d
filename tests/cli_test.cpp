// The command line end to end: the built binary in a temporary folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/run_messages.h"
#include "tests/test_util.h"
#include "tests/text_lines.h"

namespace {
// The settings echo that follows the banner.
struct Echo {
  std::string input = "(nofile)", subset = "";
  int buffer = 65536, cpus = 4;
  std::string threshold = "all pairs", segments = "NO";
  std::string text() const {
    return "\n\n[*]  Options in effect: \n      -   Input file: " + input + "\n" + subset +
           "      -   Buffer size: " + std::to_string(buffer) +
           "\n      -   Number of CPUs: " + std::to_string(cpus) +
           "\n\n      -   Reporting threshold: " + threshold +
           "\n\n      -   Segment reporting: " + segments + "\n\n";
  }
};
}  // namespace

TEST(Cli, EchoAndOptionsFileShowTheValuesThatWin) {
  const std::string n255(255, 'n'), o246(246, 'o'), long_name(100000, 'x');
  struct Case {
    std::vector<std::string> args;
    std::string before_banner, echo, options_file = "palvane.options";
  };
  const std::vector<Case> cases = {
      {{}, "", Echo{}.text()},
      {{"--file", "a.vcf", "--vcf", "b.vcf"}, "", Echo{.input = "b.vcf"}.text()},
      {{"--cpu", "abc"}, "", Echo{.cpus = 0}.text()},
      // --out, looked up before --cpu, takes x; --cpu then takes the word --out.
      {{"--cpu", "--out", "x"}, "", Echo{.cpus = 0}.text(), "x.options"},
      // The edges of the accepted ranges.
      {{"--cpu", "30", "--buffer", "65075262", "--nvar", "2147483647", "--mindist", "-2147483648",
        "--thin", "2097151.999", "--file", n255, "--pair", n255, "x", "--out", o246},
       "",
       Echo{.input = n255, .buffer = 65075262, .cpus = 30}.text(),
       o246 + ".options"},
      {{"--subset", "keep", "--report-ibd", "0"},
       "R= .S1.\nR= .S2.\nR= .S1.\nR= ." + long_name + ".\n",
       Echo{.subset = "      -   Sample subset: true \n", .threshold = "0.000"}.text()},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    TempDir dir;
    write_file(dir.file("keep"), "S1\tS2\nS1\v" + long_name);
    const RunResult run = run_palvane(dir, c.args);
    const std::string start = c.before_banner + banner_text() + c.echo;
    EXPECT_EQ(run.out.substr(0, start.size()), start) << "case " << i;
    std::string recorded = std::string("\n") + PALVANE_BIN + " ";
    for (const std::string& a : c.args) recorded += a + " ";
    EXPECT_EQ(read_file(dir.file(c.options_file)), recorded + "\n") << "case " << i;
  }
}

// The banner's shape: a newline, a six-line title, eight blanks, a version
// line naming PALVANE, three empty lines, seven notice lines.
TEST(Cli, BannerShape) {
  const std::vector<std::string> lines = lines_of(banner_text());
  ASSERT_EQ(lines.size(), 1u + 6u + 1u + 1u + 3u + 7u);
  EXPECT_EQ(lines[0], "");
  for (int i = 1; i <= 6; ++i) EXPECT_NE(lines[i].find_first_not_of(' '), std::string::npos) << i;
  EXPECT_EQ(lines[7], "        ");
  EXPECT_EQ(lines[8].rfind("PALVANE version ", 0), 0u) << lines[8];
  for (int i = 9; i <= 11; ++i) EXPECT_EQ(lines[i], "") << i;
  for (int i = 12; i <= 18; ++i) EXPECT_EQ(lines[i].rfind("***", 0), 0u) << lines[i];
}

TEST(Cli, CommandLineErrors) {
  const std::string not_understood = "\nSome command line options were not understood. Exiting. \n";
  struct Case {
    std::vector<std::string> args;
    std::string out, err;  // out "BANNER": the banner alone
  };
  const std::vector<Case> cases = {
      {{"--cpu", "4", "--cpu"}, "Error: Option --cpu requires 1 arguments.\n", ""},
      {{"--pair", "A"}, "Error: Option --pair requires 2 arguments.\n", ""},
      {{"--nvar", "--buffer"}, "Error: Option --buffer requires 1 arguments.\n", ""},
      {{"--script", "absent", "--cpu"}, "Error: Cannot open script file 'absent'.\n", ""},
      {{"--subset", "absent"}, "", "Cannot open file absent\n"},
      {{"--out", "--cpu", "4"}, "BANNER", "Error: Option 4 not understood.\n" + not_understood},
      {{"--segments", "1"}, "BANNER", "Error: Option 1 not understood.\n" + not_understood},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const RunResult run = run_palvane(dir, c.args);
    EXPECT_EQ(run.status, 1) << c.args[0];
    EXPECT_EQ(run.out, c.out == "BANNER" ? banner_text() : c.out) << c.args[0];
    EXPECT_EQ(run.err, c.err) << c.args[0];
    EXPECT_FALSE(file_exists(dir.file("palvane.options"))) << c.args[0];
  }
}

TEST(Cli, UnservableValuesAreRefusedBeforeAnyOutput) {
  const std::string t256(256, 't'), t247(247, 'o'), chars = "at most 255 characters";
  const std::string int32 = "-2147483648 to 2147483647";
  const std::string thin = "values whose product with 1024 lies in " + int32;
  struct Case {
    std::vector<std::string> args;
    std::string option, value, accepted;
  };
  const std::vector<Case> cases = {
      {{"--file", t256}, "--file", t256, chars},
      {{"--ped", t256}, "--ped", t256, chars},
      {{"--vcf", t256}, "--vcf", t256, chars},
      {{"--out", t247}, "--out", t247, "at most 246 characters"},
      {{"--pair", "A", t256}, "--pair", t256, chars},
      {{"--pair", t256, "B"}, "--pair", t256, chars},
      {{"--cpu", "-1"}, "--cpu", "-1", "0 to 30"},
      {{"--cpu", "31"}, "--cpu", "31", "0 to 30"},
      {{"--pair", "A", "B", "--cpu", "x"}, "--cpu", "x", "1 to 30 together with --pair"},
      {{"--buffer", "0"}, "--buffer", "0", "1 to 65075262"},
      {{"--buffer", "65075263"}, "--buffer", "65075263", "1 to 65075262"},
      {{"--nvar", "abc"}, "--nvar", "abc", "1 to 2147483647"},
      {{"--people", "2147483648"}, "--people", "2147483648", int32},
      {{"--mindist", "-2147483649"}, "--mindist", "-2147483649", int32},
      {{"--error", "99999999999999999999999"}, "--error", "99999999999999999999999", int32},
      {{"--thin", "2097152"}, "--thin", "2097152", thin},
      {{"--thin", "nan"}, "--thin", "nan", thin},
      // Several at once: the first in the option table is named, before the sample list is read.
      {{"--subset", "absent", "--nvar", "0", "--cpu", "99", "--buffer", "-4"},
       "--buffer",
       "-4",
       "1 to 65075262"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const RunResult run = run_palvane(dir, c.args);
    EXPECT_EQ(run.status, 1) << c.option << " " << c.value.size();
    EXPECT_EQ(run.out, "") << c.option;
    EXPECT_FALSE(file_exists(dir.file("palvane.options"))) << c.option;
    EXPECT_EQ(run.err, "Error: Option " + c.option + " value '" + c.value +
                           "' is out of range; accepted: " + c.accepted + ".\n");
  }
}
