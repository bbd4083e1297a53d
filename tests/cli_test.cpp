// The command line end to end: the built binary in a temporary folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/run_messages.h"
#include "tests/test_util.h"

namespace {
const std::string kNotUnderstood = "\nSome command line options were not understood. Exiting. \n";

std::string default_echo(const std::string& input = "(nofile)", int cpus = 4) {
  return "\n\n[*]  Options in effect: \n      -   Input file: " + input +
         "\n      -   Buffer size: 65536\n      -   Number of CPUs: " + std::to_string(cpus) +
         "\n\n      -   Reporting threshold: all pairs\n\n      -   Segment reporting: NO\n\n";
}

// Standard output after the banner; "<no banner>" when the banner is missing.
std::string after_banner(const RunResult& run) {
  const std::string banner = banner_text();
  size_t at = run.out.find(banner);
  return at == std::string::npos ? "<no banner>" : run.out.substr(at + banner.size());
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

TEST(Cli, DefaultsAreEchoedAndTheCommandLineRecorded) {
  TempDir dir;
  RunResult run = run_palvane(dir, {});
  EXPECT_TRUE(starts_with(run.out, banner_text()));
  EXPECT_TRUE(starts_with(after_banner(run), default_echo()));
  EXPECT_EQ(read_file(dir.file("palvane.options")), std::string("\n") + PALVANE_BIN + " \n");
}

TEST(Cli, WhichValueWins) {
  struct Case {
    std::vector<std::string> args;
    std::string echo;
    std::string options_file = "palvane.options";
  };
  const std::vector<Case> cases = {
      {{"--file", "a.vcf", "--vcf", "b.vcf"}, default_echo("b.vcf")},
      {{"--cpu", "2", "--cpu", "8"}, default_echo("(nofile)", 8)},
      {{"--cpu", "abc"}, default_echo("(nofile)", 0)},
      // --out, looked up before --cpu, takes x; --cpu then takes the word --out.
      {{"--cpu", "--out", "x"}, default_echo("(nofile)", 0), "x.options"},
      {{"--out", std::string(246, 'o')}, default_echo(), std::string(246, 'o') + ".options"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    RunResult run = run_palvane(dir, c.args);
    EXPECT_TRUE(starts_with(after_banner(run), c.echo)) << c.args[0] << " " << c.args[1];
    EXPECT_TRUE(file_exists(dir.file(c.options_file))) << c.args[0] << " " << c.args[1];
  }
}

TEST(Cli, ScriptWordsCountAfterTheCommandLine) {
  TempDir dir;
  write_file(dir.file("s1"), "--cpu 1");
  write_file(dir.file("s2"), "--cpu 8\n--segments");
  RunResult run = run_palvane(dir, {"--script", "s1", "--cpu", "2", "--script", "s2"});
  std::string echo = default_echo("(nofile)", 8);
  echo.replace(echo.find("NO"), 2, "YES");
  EXPECT_TRUE(starts_with(after_banner(run), echo));
  EXPECT_EQ(read_file(dir.file("palvane.options")),
            std::string("\n") + PALVANE_BIN + " --script s1 --cpu 2 --script s2 \n");
}

TEST(Cli, SubsetIsEchoedBeforeTheBanner) {
  TempDir dir;
  write_file(dir.file("keep"), "S1\tS2\nS1");
  RunResult run = run_palvane(dir, {"--subset", "keep", "--report-ibd", "0"});
  EXPECT_TRUE(starts_with(run.out, "R= .S1.\nR= .S2.\nR= .S1.\n" + banner_text()));
  EXPECT_TRUE(starts_with(after_banner(run),
                          "\n\n[*]  Options in effect: \n      -   Input file: (nofile)\n"
                          "      -   Sample subset: true \n      -   Buffer size: 65536\n"
                          "      -   Number of CPUs: 4\n\n      -   Reporting threshold: 0.000\n\n"));
}

TEST(Cli, CommandLineErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string out;  // whole standard output; "BANNER" for the banner alone
    std::string err;
  };
  const std::string banner = "BANNER";
  const std::vector<Case> cases = {
      {{"--cpu", "4", "--cpu"}, "Error: Option --cpu requires 1 arguments.\n", ""},
      {{"--pair", "A"}, "Error: Option --pair requires 2 arguments.\n", ""},
      {{"--nvar", "--buffer"}, "Error: Option --buffer requires 1 arguments.\n", ""},
      {{"--script", "absent", "--cpu"}, "Error: Cannot open script file 'absent'.\n", ""},
      {{"--subset", "absent"}, "", "Cannot open file absent\n"},
      {{"--out", "--cpu", "4"}, banner, "Error: Option 4 not understood.\n" + kNotUnderstood},
      {{"--segments", "1"}, banner, "Error: Option 1 not understood.\n" + kNotUnderstood},
      {{"--CPU", "4"}, banner, "Error: Option --CPU not understood.\n" + kNotUnderstood},
      {{"--cpu=4"}, banner, "Error: Option --cpu=4 not understood.\n" + kNotUnderstood},
      {{"--script", "inner"}, banner, "Error: Option --script not understood.\n" + kNotUnderstood},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir.file("inner"), "--script s2");
    write_file(dir.file("s2"), "--bogus");
    RunResult run = run_palvane(dir, c.args);
    std::string label = c.args[0] + " " + c.args.back();
    EXPECT_EQ(run.status, 1) << label;
    EXPECT_EQ(run.out, c.out == banner ? banner_text() : c.out) << label;
    EXPECT_EQ(run.err, c.err) << label;
    EXPECT_FALSE(file_exists(dir.file("palvane.options"))) << label;
  }
}

TEST(Cli, UnservableValuesAreRefusedBeforeAnyOutput) {
  const std::string t256(256, 't');
  const std::string t247(247, 'o');
  const std::string int32 = "-2147483648 to 2147483647";
  struct Case {
    std::vector<std::string> args;
    std::string option, value, accepted;
  };
  const std::vector<Case> cases = {
      {{"--file", t256}, "--file", t256, "at most 255 characters"},
      {{"--ped", t256}, "--ped", t256, "at most 255 characters"},
      {{"--vcf", t256}, "--vcf", t256, "at most 255 characters"},
      {{"--out", t256}, "--out", t256, "at most 246 characters"},
      {{"--out", t247}, "--out", t247, "at most 246 characters"},
      {{"--pair", "A", t256}, "--pair", t256, "at most 255 characters"},
      {{"--pair", t256, "B"}, "--pair", t256, "at most 255 characters"},
      {{"--cpu", "-1"}, "--cpu", "-1", "0 to 30"},
      {{"--cpu", "31"}, "--cpu", "31", "0 to 30"},
      {{"--pair", "A", "B", "--cpu", "x"}, "--cpu", "x", "1 to 30 together with --pair"},
      {{"--buffer", "0"}, "--buffer", "0", "1 to 65075262"},
      {{"--buffer", "65075263"}, "--buffer", "65075263", "1 to 65075262"},
      {{"--nvar", "abc"}, "--nvar", "abc", "1 to 2147483647"},
      {{"--people", "2147483648"}, "--people", "2147483648", int32},
      {{"--mindist", "-2147483649"}, "--mindist", "-2147483649", int32},
      {{"--error", "99999999999999999999999"}, "--error", "99999999999999999999999", int32},
      {{"--thin", "2097152"}, "--thin", "2097152",
       "values whose product with 1024 lies in " + int32},
      {{"--thin", "nan"}, "--thin", "nan", "values whose product with 1024 lies in " + int32},
      // Several at once: the first in the option table is named, before the sample list is read.
      {{"--subset", "absent", "--nvar", "0", "--cpu", "99", "--buffer", "-4"}, "--buffer", "-4",
       "1 to 65075262"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    RunResult run = run_palvane(dir, c.args);
    EXPECT_EQ(run.status, 1) << c.option;
    EXPECT_EQ(run.out, "") << c.option;  // stopped before the banner
    EXPECT_FALSE(file_exists(dir.file("palvane.options"))) << c.option;
    EXPECT_EQ(run.err, "Error: Option " + c.option + " value '" + c.value +
                           "' is out of range; accepted: " + c.accepted + ".\n");
  }
}
