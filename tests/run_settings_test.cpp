// The option table applied in-process, and the texts main prints.
#include "setup/run_settings.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "setup/id_table.h"
#include "setup/options.h"
#include "setup/run_messages.h"

namespace {
using namespace RunSettings;

// Every setting is put back after each test, so each one starts from the defaults.
class RunSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (char* text : {input_path, output_prefix, pair_name1, pair_name2}) keep_text(text);
    for (int32_t* v : {&buffer_size, &thread_count, &people_count, &threshold_mode, &min_distance,
                       &thin_level, &variant_capacity, &report_segments, &scan_mode, &pair_mode,
                       &subset_flag}) {
      keep(*v);
    }
    for (double* v : {&ibd1_threshold, &ibd2_threshold, &threshold_scale, &report_threshold,
                      &min_maf, &max_maf}) {
      keep(*v);
    }
    keep(max_missing_rate);
  }
  void TearDown() override {
    delete subset_table;
    subset_table = nullptr;
    for (auto& restore : restorers_) restore();
  }

  void apply(const std::vector<std::string>& words) {
    std::vector<std::string> storage = {"palvane"};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& w : storage) argv.push_back(w.data());
    options opts(static_cast<int>(argv.size()), argv.data());
    apply_options(opts);
    opts.check_unused();
  }

 private:
  template <typename T>
  void keep(T& setting) {
    T saved = setting;
    restorers_.push_back([&setting, saved] { setting = saved; });
  }
  void keep_text(char* setting) {
    std::string saved = setting;
    restorers_.push_back([setting, saved] { std::strcpy(setting, saved.c_str()); });
  }
  std::vector<std::function<void()>> restorers_;
};

timeval clock_at(long seconds, long micros) {
  timeval t{};
  t.tv_sec = seconds;
  t.tv_usec = micros;
  return t;
}
}  // namespace

TEST_F(RunSettingsTest, WhereOptionsShareASettingTheLaterTableRowWins) {
  apply({"--L", "2", "--S", "3"});
  EXPECT_EQ(threshold_scale, 2.0);
  apply({"--S", "3", "--L", "2.5"});
  EXPECT_EQ(threshold_scale, 2.5);

  apply({"--ibs1", "5"});
  EXPECT_DOUBLE_EQ(ibd1_threshold, 0.005);
  EXPECT_EQ(ibd2_threshold, 0.0);  // --ibs1 clears the IBD2 threshold
  EXPECT_EQ(threshold_mode, 0);

  apply({"--ibs2", "1", "--ibs1", "5"});
  EXPECT_DOUBLE_EQ(ibd1_threshold, 0.005);
  EXPECT_DOUBLE_EQ(ibd2_threshold, 0.001);
  EXPECT_EQ(threshold_mode, 0);

  apply({"--ibs1markers", "300", "--ibs2", "1"});
  EXPECT_EQ(threshold_mode, 1);
  EXPECT_EQ(ibd1_threshold, 300.0);
  EXPECT_DOUBLE_EQ(ibd2_threshold, 0.001);
}

TEST_F(RunSettingsTest, NumbersConvertAsStrtolAndStrtodReadThem) {
  apply({"--cpu", "abc", "--buffer", " +12kb", "--thin", "0.25", "--missing", "0.05",
         "--people", "7", "--error", "-3", "--maxmaf", "0.4x", "--segments"});
  EXPECT_EQ(thread_count, 2);
  EXPECT_EQ(buffer_size, 12);
  EXPECT_EQ(thin_level, 256);
  EXPECT_EQ(max_missing_rate, 0.05f);
  EXPECT_EQ(people_count, 7);
  EXPECT_EQ(scan_mode, -3);
  EXPECT_EQ(max_maf, 0.4);
  EXPECT_EQ(report_segments, 1);
  const std::pair<const char*, int32_t> thin_cases[] = {
      {"1", 1024}, {"0.0005", 0}, {"-0.5", -512}, {"2097151.999", 2147483646}, {"-2097152", INT32_MIN}};
  for (const auto& [text, level] : thin_cases) {
    apply({"--thin", text});
    EXPECT_EQ(thin_level, level) << text;
  }

  // Values at the edges of the accepted ranges are kept.
  const std::string longest(255, 'n');
  apply({"--cpu", "30", "--buffer", "65075262", "--nvar", "2147483647", "--mindist",
         "-2147483648", "--file", longest, "--pair", longest, "x"});
  EXPECT_EQ(thread_count, 32);
  EXPECT_EQ(buffer_size, 65075262);
  EXPECT_EQ(variant_capacity, INT32_MAX);
  EXPECT_EQ(min_distance, INT32_MIN);
  EXPECT_EQ(input_path, longest);
  EXPECT_EQ(pair_mode, 1);
  EXPECT_EQ(pair_name1, longest);
  EXPECT_STREQ(pair_name2, "x");
  apply({"--cpu", "0", "--out", std::string(246, 'p')});
  EXPECT_EQ(thread_count, 2);
  EXPECT_EQ(std::strlen(output_prefix), 246u);
}

TEST(RunMessages, TotalTimeBorrowsASecondAndRoundsInSinglePrecision) {
  EXPECT_EQ(total_time_text(clock_at(10, 900000), clock_at(12, 100000)),
            "      -   Total time for analysis was 0.02 minutes (1.2 seconds)\n\n");
  EXPECT_EQ(total_time_text(clock_at(100, 250000), clock_at(190, 750000)),
            "      -   Total time for analysis was 1.51 minutes (90.5 seconds)\n\n");
  // 3600123.456 ms is 3600123.5 in single precision.
  EXPECT_EQ(total_time_text(clock_at(0, 0), clock_at(3600, 123456)),
            "      -   Total time for analysis was 60.00 minutes (3600.1 seconds)\n\n");
}
