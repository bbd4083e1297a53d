// The command line in-process: the options object with its script words, the
// settings the option table writes, and the total-time text.
#include "setup/options.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "setup/run_messages.h"
#include "setup/run_settings.h"
#include "tests/test_util.h"

namespace {
// An options object from words, with "palvane" as the program name.
options make_options(const std::vector<std::string>& words) {
  std::vector<std::string> storage = {"palvane"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (std::string& w : storage) argv.push_back(w.data());
  return options(static_cast<int>(argv.size()), argv.data());
}

timeval clock_at(long seconds, long micros) {
  timeval t{};
  t.tv_sec = seconds;
  t.tv_usec = micros;
  return t;
}
}  // namespace

TEST(Options, ScriptWordsFollowTheCommandLineAndKeepTheLookupValueValid) {
  TempDir dir;
  write_file(dir.file("first"), "--nvar 7\n");
  write_file(dir.file("script"), "  --cpu\t8\r\n--script  other\n--missing \"0.1#\"");
  // Short names live inside the strings, so appending the script words moves them.
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  options opts = make_options({"--cpu", "2", "--script", "first", "--script", "script"});
  std::filesystem::current_path(cwd);
  ASSERT_EQ(opts.n, 13);
  EXPECT_EQ(opts.used, (std::vector<int>{0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_STREQ(opts.value[0], "script");
  EXPECT_EQ(opts.check_option("--nvar", 1), 0);  // only the last script is read
  EXPECT_EQ(opts.check_option("--cpu", 1), 1);   // every occurrence is consumed, the last wins
  EXPECT_STREQ(opts.value[0], "8");
  EXPECT_EQ(opts.used[9], 0);  // the inner --script is a plain word
  testing::internal::CaptureStdout();
  opts.print_command_line();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "--cpu 2 --cpu 8 --missing \"0.1#\" ");
}

TEST(RunSettings, LaterTableRowsWinAndThinTruncatesItsProduct) {
  using namespace RunSettings;
  const auto saved =
      std::tuple(threshold_scale, ibd1_threshold, ibd2_threshold, threshold_mode, thin_level);
  auto apply = [](std::vector<std::string> words) {
    options opts = make_options(words);
    apply_options(opts);
  };
  apply({"--L", "2", "--S", "3"});
  EXPECT_EQ(threshold_scale, 2.0);
  apply({"--ibs2", "1", "--ibs1", "5"});  // --ibs1 clears the IBD2 threshold before --ibs2
  EXPECT_DOUBLE_EQ(ibd1_threshold, 0.005);
  EXPECT_DOUBLE_EQ(ibd2_threshold, 0.001);
  EXPECT_EQ(threshold_mode, 0);
  apply({"--ibs1markers", "300", "--ibs2", "1"});
  EXPECT_EQ(threshold_mode, 1);
  EXPECT_EQ(ibd1_threshold, 300.0);
  for (auto [text, level] : {std::pair{"0.0005", 0},
                             {"-0.5", -512},
                             {"2097151.999", 2147483646},
                             {"-2097152", INT32_MIN}}) {
    apply({"--thin", text});
    EXPECT_EQ(thin_level, level) << text;
  }
  std::tie(threshold_scale, ibd1_threshold, ibd2_threshold, threshold_mode, thin_level) = saved;
}

TEST(RunMessages, TotalTimeBorrowsASecondAndRoundsInSinglePrecision) {
  EXPECT_EQ(total_time_text(clock_at(10, 900000), clock_at(12, 100000)),
            "      -   Total time for analysis was 0.02 minutes (1.2 seconds)\n\n");
  // 3600123.456 ms is 3600123.5 in single precision.
  EXPECT_EQ(total_time_text(clock_at(0, 0), clock_at(3600, 123456)),
            "      -   Total time for analysis was 60.00 minutes (3600.1 seconds)\n\n");
}
