// The VCF reader and the genotype store, fed line by line in-process.
#include "input/vcf_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "input/genotype_calls.h"
#include "input/genotype_store.h"
#include "setup/id_table.h"
#include "setup/run_settings.h"
#include "tests/vcf_text.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {
// n copies of one call followed by the given others.
std::vector<std::string> calls(int n, const std::string& call, std::vector<std::string> rest = {}) {
  rest.insert(rest.begin(), n, call);
  return rest;
}

// Feeds every line of text to the reader, each in a buffer of its own with one spare byte.
void feed(const std::string& text) {
  for (size_t start = 0, end; start < text.size(); start = end) {
    end = std::min(text.find('\n', start), text.size() - 1) + 1;
    std::vector<char> line(text.begin() + start, text.begin() + end);
    line.push_back('\0');
    process_vcf_line(line.data(), static_cast<int32_t>(end - start));
  }
}

// Positions of the retained variants.
std::vector<int> kept_positions() {
  std::vector<int> pos;
  for (int i = 0; i < variants_kept.load(); ++i) pos.push_back(variant_records.data[i].pos);
  return pos;
}
}  // namespace

// Each test starts the reader afresh with room for 16 variants and puts the
// filters back afterwards; standard output is captured throughout.
class VcfReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    RunSettings::variant_capacity = 16;
    restart();
    CaptureStdout();
  }
  void TearDown() override {
    log_ += GetCapturedStdout();
    if (HasFailure()) fputs(log_.c_str(), stderr);  // failure reports were captured too
    std::tie(RunSettings::min_maf, RunSettings::max_maf, RunSettings::min_distance,
             RunSettings::thin_level, RunSettings::max_missing_rate, RunSettings::variant_capacity,
             RunSettings::subset_flag, RunSettings::subset_table) =
        std::tuple(0.06, 32768.0, 0, 0, 0.02f, 200000, 0, nullptr);
    reset_genotype_store();
  }
  static void restart() {
    reset_genotype_store();
    start_vcf_reading();
  }
  // Standard output since the last call.
  std::string output() {
    std::string text = GetCapturedStdout();
    log_ += text;
    CaptureStdout();
    return text;
  }
  std::string log_;
};

TEST_F(VcfReaderTest, HeaderAnnouncesTheFiltersAndTheMissingCountRoundsHalfUp) {
  RunSettings::min_distance = 100;
  IdTable subset;
  subset.name_to_id = {{"S1", 1}, {"S3", 2}};
  RunSettings::subset_flag = 1;
  RunSettings::subset_table = &subset;
  testing::internal::CaptureStderr();
  feed("##fileformat=VCFv4.2\n" + header_line(25));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "0 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0  (2)\n\n");
  EXPECT_EQ(output(),  // 25 x 2% is one half: one missing call allowed
            "      -   Number of samples: 25\n\n"
            "      -   Allocation genotype vector  npeople=41 nvars=16\n"
            "      -   GenotypeMatrix: allocating 0 MB of memory\n"
            "      -   Excluding variants with missing rate > 0.020 (1 samples)\n\n"
            "      -   Excluding variants with allele frequency  < 0.060\n\n"
            "      -   Excluding variants closer than 100 base pairs\n\n");
  EXPECT_STREQ(SampleNames::names[24], "S24");
  feed(data_line("1", 1000, calls(23, "0/1", {"./.", "./."})) +
       data_line("1", 2000, calls(24, "0/1", {"./."})));
  EXPECT_EQ(kept_positions(), std::vector<int>{2000});
  EXPECT_EQ(RunSettings::people_count, 25);

  // Rates whose count passes the int32 range allow every missing call.
  RunSettings::subset_flag = 0;
  for (float rate : {1e10f, std::numeric_limits<float>::infinity(), std::nanf("")}) {
    RunSettings::max_missing_rate = rate;
    restart();
    feed(header_line(100) + data_line("1", 1000, calls(99, "./.", {"0/1"})));
    EXPECT_NE(output().find("(2147483647 samples)\n"), std::string::npos) << rate;
    EXPECT_EQ(variants_kept.load(), 1) << rate;
  }
}

TEST_F(VcfReaderTest, GenotypeCodesIncludingHaploidCallsAndLinesWithoutACall) {
  RunSettings::min_maf = -1.0;
  RunSettings::max_missing_rate = 1.0f;
  const std::vector<std::string> gts = {
      "0/0", "0/1", "0|1",       "1/0",  "0/3", "1/1", "1|2", "2/3", "./.", "0/.", "./1",
      "0/4", "4/4", "0/1:35:99", "10/1", "0",   "1",   "3",   ".",   "4",   "01",  "0:35",
      "1:9", ".:3", "0:",  "1"};
  const int expected[] = {0, 1, 1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 1, 3, 0, 2, 2, 3, 3, 3, 0, 2, 3, 0, 2};
  feed(header_line(26) + data_line("1", 5, gts));
  EXPECT_EQ(output().find("allele frequency"), std::string::npos);  // --maf -1 is not announced
  ASSERT_EQ(variants_kept.load(), 1);
  for (int s = 0; s < 26; ++s) EXPECT_EQ(GenotypeMatrix::rows[0][s], expected[s]) << gts[s];
  // Haploid calls weigh like homozygous ones: "0/1", "1" and "." give 3 of 4 alleles.
  // A line without a called genotype has no frequency and is dropped, even unfiltered.
  restart();
  feed(header_line(3) + data_line("1", 5, {"0/1", "1", "."}) +
       data_line("1", 6, {"./.", ".", "0/."}));
  EXPECT_EQ(kept_positions(), std::vector<int>{5});
  EXPECT_FLOAT_EQ(allele_freqs.data[0], 0.25f);
  restart();
  feed(header_line(0) + data_line("1", 1, {}));
  EXPECT_EQ(variants_kept.load(), 0);
}

TEST_F(VcfReaderTest, FrequencyInSinglePrecisionAgainstDoubleBounds) {
  feed(header_line(25) +
       data_line("1", 1, calls(22, "0/0", {"0/1", "0/1", "0/1"})) +  // 3/50: just under 0.06
       data_line("1", 2, calls(22, "1/1", {"0/1", "0/1", "0/1"})) +  // 47/50: MAF just over
       data_line("1", 3, calls(21, "0/0", {"0/1", "0/1", "0/1", "0/1"})) +
       data_line("1", 4, calls(20, "0/0", calls(5, "1/1"))));
  ASSERT_EQ(kept_positions(), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(allele_freqs.data[0], static_cast<float>(1.0 - static_cast<double>(47.0f / 50.0f)));
  EXPECT_EQ(allele_freqs.data[1], 0.08f);
  EXPECT_EQ(allele_freqs.data[2], 0.2f);
  RunSettings::max_maf = static_cast<double>(0.2f);  // a MAF equal to a bound passes
  feed(data_line("1", 5, calls(20, "0/0", calls(5, "1/1"))) +
       data_line("1", 6, calls(19, "0/0", calls(6, "1/1"))));
  EXPECT_EQ(kept_positions(), (std::vector<int>{2, 3, 4, 5}));
}

// The distance counts from the last kept position, across chromosomes; a
// position at or before it is no distance. Only lines that pass it draw a
// number for thinning.
TEST_F(VcfReaderTest, DistanceFilterMeasuresFromTheLastKeptPosition) {
  RunSettings::min_distance = 100;
  RunSettings::min_maf = -1.0;
  RunSettings::thin_level = 5000;  // draws, but keeps everything
  feed(header_line(1));
  unsigned short state[3] = {1, 2, 3};
  unsigned short saved[3];
  memcpy(saved, seed48(state), sizeof(saved));
  const int pos[] = {50, 1000, 1050, 1000, 900, 1000, 1050};
  for (int i = 0; i < 7; ++i)
    feed(data_line(i < 6 ? "1" : "2", pos[i], {pos[i] == 1000 ? "1/1" : "0/1"}));
  EXPECT_EQ(kept_positions(), (std::vector<int>{1000, 1000, 900, 1000}));
  EXPECT_EQ(GenotypeMatrix::rows[0][0], 0b1010);  // dropped lines packed nothing
  const long after_lines = lrand48();
  seed48(state);
  for (int i = 0; i < 4; ++i) lrand48();
  EXPECT_EQ(lrand48(), after_lines);
  seed48(saved);
}

// Every line that passes the distance filter draws once, whatever the other
// filters decide; a draw equal to the level keeps.
TEST_F(VcfReaderTest, ThinningDrawsOncePerFilteredLine) {
  feed(header_line(4));
  unsigned short state[3] = {1, 2, 3};
  unsigned short saved[3];
  memcpy(saved, seed48(state), sizeof(saved));
  std::vector<long> draws;
  for (int i = 0; i < 40; ++i) draws.push_back(lrand48() % 1024);
  RunSettings::thin_level = static_cast<int32_t>(draws[0]);
  seed48(state);
  std::string lines;
  std::vector<int> expected;
  for (int i = 0; i < 40; ++i) {
    const bool rare = i % 5 == 4;  // rejected by frequency
    lines += data_line("1", i + 1, rare ? calls(4, "0/0") : calls(3, "0/0", {"0/1"}));
    if (!rare && draws[i] <= draws[0]) expected.push_back(i + 1);
  }
  feed(lines);
  EXPECT_EQ(kept_positions(), expected);
  seed48(saved);
}

TEST_F(VcfReaderTest, PacksTwoVariantsPerByteAndUndoesRejections) {
  RunSettings::min_maf = -1.0;
  RunSettings::max_missing_rate = 0.5f;  // one missing call of two allowed
  const std::string rejected = data_line("1", 9, {"./.", "./."});
  feed(header_line(2) + data_line("1", 1, {"0/1", "./."}) + rejected +
       data_line("1", 2, {"1/1", "0/0"}) + rejected + data_line("1", 3, {"0/1", "1/1"}) + rejected);
  finish_vcf_input();
  ASSERT_EQ(GenotypeMatrix::nvars, 3);
  EXPECT_EQ(GenotypeMatrix::rows[0][0], 0b0110);
  EXPECT_EQ(GenotypeMatrix::rows[0][1], 0b1100);
  EXPECT_EQ(GenotypeMatrix::rows[1][0], 0b01);
  EXPECT_EQ(GenotypeMatrix::rows[1][1], 0b10);
  for (int r = 0; r < 16; ++r)
    for (int c = r < 2 ? 2 : 0; c < 18; ++c) EXPECT_EQ(GenotypeMatrix::rows[r][c], 0);
}

// Names agree on their first 7 characters; a name that comes back opens a new
// entry; a first chromosome named "-" still opens entry 1.
TEST_F(VcfReaderTest, ChromosomeEntriesFollowChangesOfTheStoredName) {
  RunSettings::min_maf = -1.0;
  feed(header_line(1));
  for (const char* chrom : {"-", "-", "scaffold_12", "scaffold_13", "chr1", "chr10", "chr1"})
    feed(data_line(chrom, 1, {"0/1"}));
  finish_vcf_input();
  EXPECT_EQ(ChromosomeTable::count, 6);
  const auto& markers = ChromosomeTable::markers;
  EXPECT_EQ(std::vector<int32_t>(markers.begin(), markers.begin() + 6),
            (std::vector<int32_t>{0, 2, 2, 1, 1, 1}));
  EXPECT_EQ(ChromosomeTable::cumulative[5], 7);
  EXPECT_STREQ(variant_records.data[3].chrom, "scaffol");
  const std::string out = output();
  EXPECT_NE(out.find("      -   Reading chromosome - (pos=0)\n"), std::string::npos);
  EXPECT_NE(out.find("      -   Reading chromosome scaffol (pos=2)\n"), std::string::npos);
}

namespace {
// Random data lines, most of them in the common layout of three-character
// calls, the others one change away from it without changing the column
// count, which the general reading reads differently or the same.
struct LineMaker {
  std::mt19937 rng{11};
  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

  std::string call() {
    static const char* const common[] = {"0/0", "0/1", "1/0", "1|1", "0|1", "1/1", "./.",
                                         ".|1", "2/3", "0/4", "x/1", "0/\r", "\x80|0"};
    return pick(3) == 0 ? common[pick(13)] : common[pick(6)];
  }

  // Sets *common to whether the line keeps the common layout.
  std::string line(int samples, const std::string& chrom, int pos, bool* common) {
    std::vector<std::string> calls;
    for (int s = 0; s < samples; ++s) calls.push_back(call());
    std::string text = data_line(chrom, pos, calls);
    *common = pick(3) != 0;
    if (*common) return text;
    const size_t first = text.size() - 4 * static_cast<size_t>(samples);  // first call
    const size_t at = first + 4 * static_cast<size_t>(pick(samples));     // a call
    switch (pick(9)) {
      case 0: return text.replace(at + 1, 1, ":");  // a haploid call and further fields
      case 1: return text.replace(at, 3, "0/1:35");
      case 2: return text.replace(at, 3, pick(2) ? "1" : ".");
      case 3: return text.replace(text.size() - 1, 1, "\r\n");
      case 4: return text.insert(at, "\t");  // two tabs before a call
      case 5: return text.replace(at, 1, pick(2) ? " " : "\t");  // a blank for an allele
      case 6: return text.replace(text.find('\t', 3), 1, " ");   // fixed columns split by a blank
      case 7: return text.replace(at, 3, pick(2) ? "10/1" : "01");
      default: return text.replace(at + 3, 1, " ");  // a blank ends a call
    }
  }
};

// The packed rows (all of them), frequencies, positions, chromosome table
// and messages of a reading.
struct Reading {
  std::vector<std::vector<uint8_t>> rows;
  std::vector<float> freqs;
  std::vector<int> positions;
  std::vector<int32_t> cumulative;
  std::string output;
  bool operator==(const Reading&) const = default;
};

Reading reading_of() {
  Reading r;
  for (int32_t v = 0; v < GenotypeMatrix::capacity; ++v)
    r.rows.emplace_back(GenotypeMatrix::rows[v], GenotypeMatrix::rows[v] + GenotypeMatrix::npeople);
  r.freqs.assign(allele_freqs.data, allele_freqs.data + variants_kept.load());
  r.positions = kept_positions();
  finish_vcf_input();
  r.cumulative.assign(ChromosomeTable::cumulative.begin(),
                      ChromosomeTable::cumulative.begin() + ChromosomeTable::count);
  return r;
}
}  // namespace

// Both kernels agree on which call sections have the common layout and on
// their sums, over sample counts around the 16-sample step and single-byte
// changes anywhere in a section.
TEST(FixedWidthSums, KernelsAgreeOnCommonCallsAndNearMisses) {
  std::mt19937 rng(5);
  const char alleles[] = {'0', '1', '2', '3', '4', '.', 'x', '\r', '\0', '\xff'};
  const char changes[] = {' ', '\t', '\n', ':', '/', '|', '\r', '0', '.', '\0'};
  int accepted = 0;
  for (int round = 0; round < 6000; ++round) {
    const int samples = round % 7 == 0 ? 17 + static_cast<int>(rng() % 200) : 1 + round % 40;
    std::string calls;
    for (int s = 0; s < samples; ++s) {
      calls += alleles[rng() % 10];
      calls += rng() % 2 ? '/' : '|';
      calls += alleles[rng() % 10];
      calls += s + 1 == samples ? '\n' : '\t';
    }
    const bool changed = round % 2 == 1;
    if (changed) calls[rng() % calls.size()] = changes[rng() % 10];
    std::vector<uint8_t> fast(samples, 99), plain(samples, 77);
    const bool fast_ok = fixed_width_sums(calls.data(), samples, fast.data());
    ASSERT_EQ(fast_ok, fixed_width_sums_plain(calls.data(), samples, plain.data())) << round;
    if (!changed) {
      ASSERT_TRUE(fast_ok) << round;
    }
    if (!fast_ok) continue;
    ++accepted;
    for (int s = 0; s < samples; ++s) {
      const auto code = [&](size_t i) {
        return genotype_code_table[static_cast<uint8_t>(calls[i])];
      };
      ASSERT_EQ(fast[s], code(4 * s) + code(4 * s + 2)) << round << " sample " << s;
      ASSERT_EQ(plain[s], fast[s]);
    }
  }
  EXPECT_GT(accepted, 3000);  // some changes keep the layout ('0' for an allele)
}

// Lines of three-character calls take the fast reading, which writes nothing
// into their sample columns; everything else, and every line when it is
// switched off, the general one. Both give the same store and messages,
// under open and default filters and with thinning.
TEST_F(VcfReaderTest, FastReadingOfCommonCallsMatchesTheGeneralReading) {
  std::vector<int> sample_counts;
  for (int n = 1; n <= 40; ++n) sample_counts.push_back(n);
  sample_counts.push_back(83);
  size_t kept[3] = {};  // retained variants under each filter setting
  for (int samples : sample_counts) {
    LineMaker maker;
    maker.rng.seed(static_cast<unsigned>(samples));
    std::vector<std::string> lines;
    int common = 0;
    bool last_common = false;
    for (int i = 0; i < 50; ++i) {
      bool is_common;
      lines.push_back(maker.line(samples, i < 30 ? "1" : "chr2", 100 * (i + 1), &is_common));
      common += is_common;
      last_common = is_common;
    }
    if (samples % 2 == 0) {  // a last line without its newline
      lines.back().pop_back();
      common -= last_common;
    }
    for (int filters = 0; filters < 3; ++filters) {
      Reading readings[2];
      for (int fast = 0; fast < 2; ++fast) {
        std::tie(RunSettings::min_maf, RunSettings::max_missing_rate, RunSettings::thin_level) =
            filters == 0 ? std::tuple(-1.0, 1.0f, 0)
                         : std::tuple(0.06, filters == 1 ? 0.3f : 0.5f, filters == 1 ? 0 : 700);
        read_fixed_width_calls = fast == 1;
        srand48(samples);
        restart();
        output();
        feed(header_line(samples));
        int untouched = 0;
        for (const std::string& text : lines) {
          std::vector<char> line(text.begin(), text.end());
          line.push_back('\0');
          process_vcf_line(line.data(), static_cast<int32_t>(text.size()));
          const size_t tail = 4 * static_cast<size_t>(samples);
          untouched += std::equal(text.end() - tail, text.end(), line.end() - 1 - tail);
        }
        EXPECT_EQ(untouched, fast ? common : 0) << samples;
        readings[fast] = reading_of();
        readings[fast].output = output();
      }
      read_fixed_width_calls = true;
      EXPECT_TRUE(readings[0] == readings[1]) << samples << " samples, filters " << filters;
      kept[filters] += readings[1].positions.size();
    }
  }
  for (size_t n : kept) EXPECT_GT(n, 200u);
}

// A line of three-character calls with a column too many or too few, or a
// FORMAT without GT, ends the process with the general reading's message.
TEST_F(VcfReaderTest, CommonCallsWithTheWrongColumnsFailAsInTheGeneralReading) {
  feed(header_line(20));
  const auto fails_with = [](const std::string& line, int code, const std::string& message) {
    EXPECT_EXIT(
        {
          fflush(stdout);
          dup2(STDERR_FILENO, STDOUT_FILENO);
          feed(line);
        },
        testing::ExitedWithCode(code), message);
  };
  fails_with(data_line("1", 5, calls(21, "0/1")), 2, "Expected 29 items in line but got 30\n");
  fails_with(data_line("1", 5, calls(19, "0/1")), 2, "Expected 29 items in line but got 28\n");
  fails_with(data_line("1", 5, calls(19, "0/1", {"0 1"})), 2,
             "Expected 29 items in line but got 30\n");
  std::string no_gt = data_line("1", 5, calls(20, "0/1"));
  fails_with(no_gt.replace(no_gt.find("GT"), 2, "DP"), 1, "Column 8 should start with 'GT'");
  no_gt = data_line("1", 5, calls(21, "0/1"));
  fails_with(no_gt.replace(no_gt.find("GT"), 2, "DP"), 1, "Column 8 should start with 'GT'");
}

TEST(GenotypeStore, ArraysGrowBeforeAnAppendWouldFillThemAndAllocationFailureIsReported) {
  GrowableArray<VariantRecord> records;
  records.append(VariantRecord{7, "chr7"});
  EXPECT_EQ(records.capacity, 4096);
  for (int32_t i = 1; i < 4095; ++i) records.append(VariantRecord{i, "x"});
  EXPECT_EQ(records.capacity, 4096);
  records.append(VariantRecord{4095, "x"});  // the 4096th
  EXPECT_EQ(records.capacity, 16384);
  EXPECT_EQ(records.data[0].pos, 7);  // kept across the copy
  EXPECT_STREQ(records.data[0].chrom, "chr7");
  EXPECT_EQ(records.data[4095].pos, 4095);
  records.reset(0);
  EXPECT_EXIT(
      {
        fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        fail_allocation((int64_t{5} << 20) + 12345);
      },
      testing::ExitedWithCode(1), "^Error allocating 5 MB of memory\n$");
}
