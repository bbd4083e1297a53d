// Rules that a whole run cannot reach cheaply, checked in process: the VCF
// reader against the independent model of its fuzz harness, the pair count
// past the int32 range, and code that no run uses.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <random>
#include <string>
#include <vector>

#include "ibd/pair_worker.h"
#include "ibd/transposed_matrix.h"
#include "input/genotype_store.h"
#include "input/thread_slots.h"
#include "setup/global_id_maps.h"
#include "setup/run_messages.h"
#include "setup/run_settings.h"

// The fuzz harness's entry points, renamed for this program (see CMakeLists.txt).
extern "C" int vcf_line_model_init(int*, char***);
extern "C" int vcf_line_model_check(const uint8_t* data, size_t size);

namespace {

// Random VCF texts rich in what the reader must tell apart: haploid calls with
// and without further fields, no-calls, alleles beyond 3, CR line ends, meta
// lines among the data, chromosome names that agree on 7 characters, lines of
// the wrong shape (which the model leaves out, as the reader would refuse them)
// and many samples, so that lines of common calls take the 16-at-a-time path.
std::string random_vcf(std::mt19937& rng) {
  static const char* const calls[] = {"0/0", "0/1", "1|1", "1/0", "./.", "0|1", "2/3", "0",
                                      "1",   ".",   "3",   "1:35", "0/1:9", "0/4", "10/1", "01",
                                      ".|1", "x/1", "1\r", "0/\r", "0:", ".:3", "4", ""};
  static const char* const chroms[] = {"1", "2", "scaffold_12", "scaffold_13", "-", "chr1"};
  const int samples = 1 + static_cast<int>(rng() % 40);
  std::string text = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (int s = 0; s < samples; ++s) text += "\tS" + std::to_string(s);
  text += "\n";
  const char* chrom = chroms[0];
  for (int v = 0, lines = static_cast<int>(rng() % 300); v < lines; ++v) {
    if (rng() % 10 == 0) chrom = chroms[rng() % 6];
    if (rng() % 50 == 0) text += "##meta\n";
    text += std::string(chrom) + "\t" + std::to_string(v * 100) + "\t.\tA\tG\t.\t.\t.\t";
    text += rng() % 30 == 0 ? "DP" : rng() % 5 == 0 ? "GT:DP" : "GT";
    const bool common = rng() % 2 == 0;
    const int columns = samples + (rng() % 40 == 0 ? 1 : 0);
    for (int s = 0; s < columns; ++s)
      text += std::string("\t") + calls[rng() % (common ? 7 : 24)];
    text += rng() % 20 == 0 ? "\r\n" : "\n";
  }
  return text;
}

TEST(ReaderModel, RandomVcfTextsAreStoredAsTheModelReadsThem) {
  // The harness sends standard output to /dev/null for good (freopen flushes
  // it first); the test program gets it back afterwards, so that later results
  // and the summary show.
  const int saved_stdout = dup(STDOUT_FILENO);
  vcf_line_model_init(nullptr, nullptr);
  std::mt19937 rng(7);
  int64_t retained = 0;
  for (int round = 0; round < 600; ++round) {
    const std::string text = random_vcf(rng);
    // The model aborts the test program at the first difference.
    vcf_line_model_check(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    retained += GenotypeMatrix::nvars;
  }
  fflush(stdout);
  dup2(saved_stdout, STDOUT_FILENO);
  EXPECT_GT(retained, 20000);  // the texts reached the store, not only the model's refusals
}

// Past 65536 samples the pairs outnumber int32: the count and the percentage
// of the progress line go on. 64 samples, 2016 pairs: one progress line; no
// pair reaches the report threshold, so nothing is written.
TEST(PairWorker, ProgressCountGoesOnPastTheInt32Range) {
  std::vector<uint8_t> zeros(2, 0);
  std::vector<uint8_t*> rows(65, zeros.data());
  SampleNames::count = 64;
  GenotypeMatrix::nvars = GenotypeMatrixTransposed::nvars = 2;
  GenotypeMatrixTransposed::rows = rows.data();
  ChromosomeTable::count = 2;
  ChromosomeTable::cumulative.assign({0, 2});
  RunSettings::pair_mode = 0;
  RunSettings::report_threshold = 2;
  ASSERT_EQ(sem_init(&pair_done_sem, 0, 0), 0);
  const int64_t before = INT32_MAX - 1000;
  pairs_done = before;
  ThreadSlot slot;
  Job job;
  job.worker_count = 1;
  testing::internal::CaptureStdout();
  pair_job(&slot, &job);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(sem_trywait(&pair_done_sem), 0);
  EXPECT_EQ(slot.done.load(), 1);
  EXPECT_EQ(pairs_done.load(), before + 2016);
  EXPECT_NE(out.find("\n - 106522055.9% completed - Pairs/sec = "), std::string::npos) << out;
  sem_destroy(&pair_done_sem);
}

TEST(RunMessages, TotalTimeBorrowsASecondAndRoundsInSinglePrecision) {
  EXPECT_EQ(total_time_text({10, 900000}, {12, 100000}),
            "      -   Total time for analysis was 0.02 minutes (1.2 seconds)\n\n");
  // 3600123.456 ms is 3600123.5 in single precision.
  EXPECT_EQ(total_time_text({0, 0}, {3600, 123456}),
            "      -   Total time for analysis was 60.00 minutes (3600.1 seconds)\n\n");
}

TEST(GenotypeStore, SizesInMegabytesBeyondInt32AndAllocationFailure) {
  EXPECT_EQ(transposed_matrix_megabytes(3001, 2000000), 5723);
  EXPECT_EXIT(
      {
        fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        fail_allocation((int64_t{5} << 20) + 12345);
      },
      testing::ExitedWithCode(1), "^Error allocating 5 MB of memory\n$");
}

// The process-wide name registry: numbers from 0, the missing code "-9"
// reading as number 0 and number -9 as "0", names of unknown numbers left empty.
TEST(GlobalIdMaps, InternNumbersNamesAndSharesTheMissingCodes) {
  EXPECT_EQ(max_name_length(), 3);
  EXPECT_STREQ(name_of_id(5), "");
  for (const char* name : {"rs1", "rs2", "rs1", "", "d", "e"}) intern_name(name);
  EXPECT_EQ(intern_name("rs1"), 0);
  EXPECT_STREQ(name_of_id(1), "rs2");
  EXPECT_EQ(intern_name(""), 2);
  EXPECT_EQ(intern_name("thirteen_char"), 5);  // replaces the empty name of 5
  EXPECT_STREQ(name_of_id(5), "thirteen_char");
  EXPECT_EQ(max_name_length(), 13);
  init_missing_codes();
  init_missing_codes();
  EXPECT_EQ(intern_name("0"), 6);
  EXPECT_EQ(intern_name("-9"), 0);  // shares the number of the first name
  EXPECT_STREQ(name_of_id(-9), "0");
  EXPECT_EQ(intern_name("next"), 7);
  char* block = copy_bytes("abc", 3);
  EXPECT_EQ(std::string(block, 3), "abc");
  free(block);
}

}  // namespace
