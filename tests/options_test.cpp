// The command-line object: lookup, consumption and script words.
#include "setup/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {
// Builds an options object from words, with "palvane" as the program name.
options make_options(const std::vector<std::string>& words) {
  std::vector<std::string> storage = {"palvane"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (std::string& w : storage) argv.push_back(w.data());
  return options(static_cast<int>(argv.size()), argv.data());
}

std::string printed_command_line(options& opts) {
  std::ostringstream captured;
  std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
  opts.print_command_line();
  std::cout.rdbuf(saved);
  return captured.str();
}
}  // namespace

TEST(Options, LookupConsumesEveryOccurrenceAndKeepsTheLastValues) {
  options none = make_options({});
  EXPECT_EQ(none.check_option("--cpu", 1), 0);
  none.check_unused();  // returns: nothing to report

  options repeated = make_options({"--cpu", "2", "--cpu", "8", "--segments", "--segments"});
  EXPECT_EQ(repeated.check_option("--cpu", 1), 1);
  EXPECT_STREQ(repeated.value[0], "8");
  EXPECT_EQ(repeated.check_option("--segments", 0), 1);
  EXPECT_EQ(repeated.used, (std::vector<int>{0, 1, 1, 1, 1, 1, 1}));
}

TEST(Options, ScriptWordsFollowTheCommandLine) {
  TempDir dir;
  write_file(dir.file("first"), "--nvar 7\n");
  write_file(dir.file("script"), "  --cpu\t8\r\n--script  other\n--missing \"0.1#\"");  // no final line end
  // Short relative names live inside the strings themselves, so they move
  // when the script words are appended.
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  options opts = make_options({"--cpu", "2", "--script", "first", "--script", "script"});
  std::filesystem::current_path(cwd);
  ASSERT_EQ(opts.n, 13);
  EXPECT_EQ(opts.args.back(), "\"0.1#\"");
  EXPECT_EQ(opts.used, (std::vector<int>{0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}));
  // Appending moved the words; the script lookup's value must still be readable.
  EXPECT_STREQ(opts.value[0], "script");

  EXPECT_EQ(opts.check_option("--nvar", 1), 0);  // only the last script is read
  EXPECT_EQ(opts.check_option("--cpu", 1), 1);
  EXPECT_STREQ(opts.value[0], "8");
  // The inner --script is a plain word: nothing was read from "other".
  EXPECT_EQ(opts.args[9], "--script");
  EXPECT_EQ(opts.used[9], 0);

  EXPECT_EQ(printed_command_line(opts), "--cpu 2 --cpu 8 --missing \"0.1#\" ");
}

TEST(Options, EmptyScriptAddsNothing) {
  TempDir dir;
  write_file(dir.file("blank"), " \n\t\n");
  EXPECT_EQ(make_options({"--script", dir.file("blank")}).n, 3);
}
