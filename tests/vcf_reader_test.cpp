#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "input/genotype_store.h"
#include "input/line_queue.h"
#include "input/vcf_reader.h"
#include "setup/id_table.h"
#include "setup/run_settings.h"

using testing::ExitedWithCode;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {
std::string header_line(int samples) {
  std::string line = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (int s = 0; s < samples; ++s) line += "\tS" + std::to_string(s);
  return line + "\n";
}

std::string data_line(const std::string& chrom, int pos, const std::vector<std::string>& calls,
                      const std::string& format = "GT") {
  std::string line = chrom + "\t" + std::to_string(pos) + "\t.\tA\tG\t.\tPASS\t.\t" + format;
  for (const std::string& call : calls) line += "\t" + call;
  return line + "\n";
}

// n copies of one call followed by the given others.
std::vector<std::string> calls(int n, const std::string& call, std::vector<std::string> rest = {}) {
  rest.insert(rest.begin(), n, call);
  return rest;
}

// Feeds every line of text to the reader, each in a buffer of its own with one spare byte.
void feed(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::vector<char> line(text.begin() + start, text.begin() + end);
    line.push_back('\0');
    process_vcf_line(line.data(), static_cast<int32_t>(end - start));
    start = end;
  }
}

// Code of retained variant v for sample s, from the packed rows.
int code_of(int v, int s) {
  uint8_t byte = GenotypeMatrix::rows[v / 2][s];
  bool alone = v % 2 == 0 && v == variants_kept.load() - 1;
  return (v % 2 == 1 || alone) ? (byte & 3) : (byte >> 2) & 3;
}

// Runs statement in a death test with standard output sent where the matcher looks.
#define EXPECT_FATAL(statement, status, message)                                      \
  EXPECT_EXIT(                                                                        \
      {                                                                               \
        fflush(stdout);                                                               \
        dup2(STDERR_FILENO, STDOUT_FILENO);                                           \
        statement;                                                                    \
      },                                                                              \
      ExitedWithCode(status), message)
}  // namespace

class VcfReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_genotype_store();
    RunSettings::variant_capacity = 16;
    CaptureStdout();
    start_vcf_reading();
  }
  void TearDown() override {
    log_ += GetCapturedStdout();
    // Failure reports went to the captured output too: show them with the reader's messages.
    if (HasFailure()) fprintf(stderr, "%s", log_.c_str());
    RunSettings::min_maf = 0.06;
    RunSettings::max_maf = 32768.0;
    RunSettings::min_distance = 0;
    RunSettings::thin_level = 0;
    RunSettings::max_missing_rate = 0.02f;
    RunSettings::variant_capacity = 200000;
    RunSettings::subset_flag = 0;
    RunSettings::subset_table = nullptr;
    reset_genotype_store();
  }
  void restart() {
    reset_genotype_store();
    start_vcf_reading();
  }
  // Standard output since the last call (capture goes on).
  std::string output() {
    std::string text = GetCapturedStdout();
    log_ += text;
    CaptureStdout();
    return text;
  }
  std::string log_;
};

TEST_F(VcfReaderTest, HeaderLinesAnnounceSamplesMatrixAndFilters) {
  RunSettings::min_distance = 100;
  feed("##fileformat=VCFv4.2\n##x\n" + header_line(100));
  EXPECT_EQ(output(),
            "      -   Number of samples: 100\n\n"
            "      -   Allocation genotype vector  npeople=116 nvars=16\n"
            "      -   GenotypeMatrix: allocating 0 MB of memory\n"
            "      -   Excluding variants with missing rate > 0.020 (2 samples)\n\n"
            "      -   Excluding variants with allele frequency  < 0.060\n\n"
            "      -   Excluding variants closer than 100 base pairs\n\n");
  EXPECT_EQ(variants_read.load(), 3);
  EXPECT_STREQ(SampleNames::names[99], "S99");
  EXPECT_EQ(allele_freqs.capacity, 256000);
  // 100 samples at 2%: two missing calls are allowed, three are not.
  feed(data_line("1", 1000, calls(97, "0/1", {"./.", "./.", "./."})) +
       data_line("1", 2000, calls(98, "0/1", {"./.", "./."})));
  ASSERT_EQ(variants_kept.load(), 1);
  EXPECT_EQ(variant_records.data[0].pos, 2000);
  EXPECT_EQ(RunSettings::people_count, 100);

  // Rates whose allowed count passes the int32 range allow every missing call.
  for (float rate : {1e10f, std::numeric_limits<float>::infinity(), std::nanf("")}) {
    RunSettings::max_missing_rate = rate;
    restart();
    feed(header_line(100) + data_line("1", 1000, calls(99, "./.", {"0/1"})));
    EXPECT_NE(output().find("(2147483647 samples)\n"), std::string::npos) << rate;
    EXPECT_EQ(variants_kept.load(), 1) << rate;
  }
}

TEST_F(VcfReaderTest, GenotypeCodesIncludingHaploidCalls) {
  RunSettings::min_maf = -1.0;
  RunSettings::max_missing_rate = 1.0f;
  const std::vector<std::string> gts = {"0/0", "0/1", "0|1", "1/0", "0/3", "1/1", "1|2", "2/3",
                                        "./.", "0/.", "./1", "0/4", "4/4", "0/1:35:99", "10/1",
                                        "0",   "1",   "3",   ".",   "4",   "01",  "1"};
  const int expected[] = {0, 1, 1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 1, 3, 0, 2, 2, 3, 3, 3, 2};
  feed(header_line(22) + data_line("1", 5, gts));
  EXPECT_EQ(output().find("allele frequency"), std::string::npos);  // --maf -1 is not announced
  ASSERT_EQ(variants_kept.load(), 1);
  for (int s = 0; s < 22; ++s) EXPECT_EQ(code_of(0, s), expected[s]) << gts[s];
  // Haploid calls weigh like homozygous ones: "0/1", "1" and "." give 3 of 4 alleles.
  restart();
  feed(header_line(3) + data_line("1", 5, {"0/1", "1", "."}));
  EXPECT_FLOAT_EQ(allele_freqs.data[0], 0.25f);
}

TEST_F(VcfReaderTest, FrequencyInSinglePrecisionAgainstDoubleBounds) {
  feed(header_line(25) +
       data_line("1", 1, calls(22, "0/0", {"0/1", "0/1", "0/1"})) +   // 3/50: just under 0.06
       data_line("1", 2, calls(22, "1/1", {"0/1", "0/1", "0/1"})) +   // 47/50: MAF just over
       data_line("1", 3, calls(21, "0/0", {"0/1", "0/1", "0/1", "0/1"})) +
       data_line("1", 4, calls(20, "0/0", {"1/1", "1/1", "1/1", "1/1", "1/1"})));
  // 25 x 2% rounds up to one missing call allowed.
  EXPECT_NE(output().find("missing rate > 0.020 (1 samples)\n"), std::string::npos);
  ASSERT_EQ(variants_kept.load(), 3);
  EXPECT_EQ(allele_freqs.data[0], static_cast<float>(1.0 - static_cast<double>(47.0f / 50.0f)));
  EXPECT_EQ(allele_freqs.data[1], 0.08f);
  EXPECT_EQ(allele_freqs.data[2], 0.2f);
  RunSettings::max_maf = static_cast<double>(0.2f);  // a MAF equal to a bound passes
  feed(data_line("1", 5, calls(20, "0/0", calls(5, "1/1"))) +
       data_line("1", 6, calls(19, "0/0", calls(6, "1/1"))));
  ASSERT_EQ(variants_kept.load(), 4);
  EXPECT_EQ(variant_records.data[3].pos, 5);
}

TEST_F(VcfReaderTest, DistanceFilterMeasuresFromLastKeptPositionAcrossChromosomes) {
  RunSettings::min_distance = 100;
  RunSettings::min_maf = -1.0;
  RunSettings::thin_level = 5000;  // draws, but keeps everything
  feed(header_line(1));
  unsigned short state[3] = {1, 2, 3};
  unsigned short saved[3];
  memcpy(saved, seed48(state), sizeof(saved));
  feed(data_line("1", 50, {"0/1"}) + data_line("1", 1000, {"0/1"}) + data_line("1", 1050, {"0/1"}) +
       data_line("1", 1000, {"1/1"}) + data_line("1", 900, {"0/1"}) + data_line("1", 1000, {"0/1"}) +
       data_line("2", 1050, {"0/1"}));
  const int kept_positions[] = {1000, 1000, 900, 1000};
  ASSERT_EQ(variants_kept.load(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(variant_records.data[i].pos, kept_positions[i]);
  EXPECT_EQ(GenotypeMatrix::rows[0][0], 0b0110);  // dropped lines packed nothing
  // Only the four lines that reached the filters drew a number.
  long after_lines = lrand48();
  seed48(state);
  for (int i = 0; i < 4; ++i) lrand48();
  EXPECT_EQ(lrand48(), after_lines);
  seed48(saved);
}

TEST_F(VcfReaderTest, ThinningDrawsOncePerFilteredLine) {
  feed(header_line(4));
  unsigned short state[3] = {1, 2, 3};
  unsigned short saved[3];
  memcpy(saved, seed48(state), sizeof(saved));
  std::vector<long> draws;
  for (int i = 0; i < 40; ++i) draws.push_back(lrand48() % 1024);
  RunSettings::thin_level = static_cast<int32_t>(draws[0]);  // a draw equal to the level keeps
  seed48(state);
  std::string lines;
  std::vector<int> expected;
  for (int i = 0; i < 40; ++i) {
    bool rare = i % 5 == 4;  // rejected by frequency, still draws
    lines += data_line("1", i + 1, rare ? calls(4, "0/0") : calls(3, "0/0", {"0/1"}));
    if (!rare && draws[i] <= draws[0]) expected.push_back(i + 1);
  }
  feed(lines);
  ASSERT_EQ(variants_kept.load(), static_cast<int32_t>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(variant_records.data[i].pos, expected[i]);
  RunSettings::thin_level = static_cast<int32_t>(draws[0]) - 1;
  seed48(state);
  feed(data_line("1", 100, calls(3, "0/0", {"0/1"})));
  EXPECT_EQ(variants_kept.load(), static_cast<int32_t>(expected.size()));
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

TEST_F(VcfReaderTest, MatrixGrowsFromOneRowBeforeTheLineIsChecked) {
  RunSettings::variant_capacity = 1;
  RunSettings::min_maf = -1.0;
  feed(header_line(1));
  output();
  for (int i = 0; i < 5; ++i) feed(data_line("1", i, {i % 2 ? "1/1" : "0/1"}));
  const std::string grow2 =
      "      -   Allocation genotype vector  npeople=17 nvars=2\n"
      "      -   GenotypeMatrix: allocating 0 MB of memory\n";
  EXPECT_EQ(output(), "      -   Reading chromosome 1 (pos=0)\n" + grow2 +
                          "      -   Allocation genotype vector  npeople=17 nvars=4\n"
                          "      -   GenotypeMatrix: allocating 0 MB of memory\n"
                          "      -   Allocation genotype vector  npeople=17 nvars=8\n"
                          "      -   GenotypeMatrix: allocating 0 MB of memory\n");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(code_of(i, 0), i % 2 ? 2 : 1);
  restart();
  feed(header_line(1) + data_line("1", 1, {"0/1"}));
  EXPECT_FATAL(feed(data_line("1", 2, {"0/1"}, "GQ")), 1,
               "^" + grow2 + "Error: Bad or not supported VCF format\\. Column 8 should start "
                             "with 'GT' field\\. \n$");
}

TEST_F(VcfReaderTest, ChromosomeTableAndSummary) {
  RunSettings::min_maf = -1.0;
  feed(header_line(1));
  output();
  for (const char* chrom : {"1", "1", "1", "2", "2"}) feed(data_line(chrom, 1, {"0/1"}));
  finish_vcf_input();
  EXPECT_EQ(output(),
            "      -   Reading chromosome 1 (pos=0)\n"
            "      -   Reading chromosome 2 (pos=3)\n"
            "      -   Chromosome   1    Markers        3    Cumulative        3\n"
            "      -   Chromosome   2    Markers        2    Cumulative        5\n");
  EXPECT_EQ(ChromosomeTable::count, 3);
  EXPECT_EQ(GenotypeMatrix::nvars, 5);

  // Names agree on their first 7 characters; a name that comes back opens a new entry;
  // a first chromosome named "-" still opens entry 1.
  restart();
  feed(header_line(1));
  for (const char* chrom : {"-", "-", "scaffold_12", "scaffold_13", "chr1", "chr10", "chr1"})
    feed(data_line(chrom, 1, {"0/1"}));
  finish_vcf_input();
  EXPECT_EQ(ChromosomeTable::count, 6);
  const int markers[] = {0, 2, 2, 1, 1, 1};
  for (int k = 1; k < 6; ++k) EXPECT_EQ(ChromosomeTable::markers[k], markers[k]);
  EXPECT_EQ(ChromosomeTable::cumulative[5], 7);
  EXPECT_STREQ(variant_records.data[3].chrom, "scaffol");
  EXPECT_NE(output().find("Reading chromosome scaffol (pos=2)\n"), std::string::npos);
}

TEST_F(VcfReaderTest, ManyChromosomesAndNone) {
  RunSettings::min_maf = -1.0;
  feed(header_line(1));
  for (int c = 0; c < 600; ++c)
    feed(data_line(std::string("c").append(std::to_string(c)), 1, {"0/1"}));
  finish_vcf_input();
  EXPECT_EQ(ChromosomeTable::count, 601);
  EXPECT_EQ(ChromosomeTable::cumulative[600], 600);
  EXPECT_NE(output().find("Chromosome 600    Markers        1    Cumulative      600\n"),
            std::string::npos);

  restart();
  // Nine columns: no sample, so no called genotype and no frequency; nothing is kept.
  feed(header_line(0) + data_line("1", 1, {}) + data_line("1", 2, {}, "GTX"));
  finish_vcf_input();
  EXPECT_EQ(ChromosomeTable::count, 0);
  EXPECT_EQ(GenotypeMatrix::nvars, 0);
  EXPECT_EQ(output().find("Chromosome"), std::string::npos);
}

TEST_F(VcfReaderTest, SubsetMarksGoToStandardError) {
  IdTable subset;
  subset.name_to_id = {{"S1", 1}, {"S3", 2}};
  RunSettings::subset_flag = 1;
  RunSettings::subset_table = &subset;
  CaptureStderr();
  feed(header_line(4));
  EXPECT_EQ(GetCapturedStderr(), "0 1 0 1  (2)\n\n");
}

TEST_F(VcfReaderTest, InputWithoutAUsableHeaderIsAFormatError) {
  EXPECT_FATAL(feed("##meta\n" + data_line("1", 1, {"0/1", "0/1"})), 1,
               "^Error: VCF file seems corrupted\\. Data line 2 comes before the column header "
               "line\n$");
  EXPECT_FATAL(feed("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n"), 1,
               "^Error: VCF file seems corrupted\\. Column header line has 8 items but needs at "
               "least 9\n$");
}

TEST_F(VcfReaderTest, DataLineErrorsAndTheirStatuses) {
  feed(header_line(2));
  const std::string not_gt =
      "^Error: Bad or not supported VCF format\\. Column 8 should start with 'GT' field\\. \n$";
  const std::string count = "^Error: VCF file seems corrupted\\. Expected 11 items in line but got ";
  EXPECT_FATAL(feed(header_line(2)), 1,
               "^Error: VCF file seems corrupted\\. Second column header line at line 2\n$");
  EXPECT_FATAL(feed(data_line("1", 1, {"0/1", "0/1"}, "GQ:GT")), 1, not_gt);
  EXPECT_FATAL(feed(data_line("1", 1, {"0/1"}, "G")), 1, not_gt);  // wrong count too
  EXPECT_FATAL(feed("\n"), 2, count + "1\n$");
  std::string trailing_tab = data_line("1", 1, {"0/1", "0/1"});
  trailing_tab.back() = '\t';
  trailing_tab += '\n';
  EXPECT_FATAL(feed(trailing_tab), 2, count + "12\n$");
}

TEST_F(VcfReaderTest, JobTakesLinesFromTheQueueUntilTheEndMarker) {
  RunSettings::min_maf = -1.0;
  for (const std::string& text : {header_line(1), data_line("1", 1, {"0/1"}),
                                  data_line("1", 2, {"1/1"})}) {
    char* line = static_cast<char*>(malloc(text.size() + 1));
    memcpy(line, text.data(), text.size());
    line_queue.enqueue(line, static_cast<int32_t>(text.size()), 1);
  }
  line_queue.enqueue(nullptr, 0, -1);
  vcf_reader_job(nullptr, nullptr);
  EXPECT_EQ(variants_read.load(), 3);
  EXPECT_EQ(GenotypeMatrix::nvars, 2);
  EXPECT_EQ(line_queue.getdata().sequence, -1);  // the end marker stays queued
  line_queue.dequeue();
}
