#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "input/genotype_store.h"
#include "setup/run_settings.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(GenotypeCodeTable, OnlyZeroToThreeAreAlleles) {
  for (int b = 0; b < 256; ++b) {
    int expected = b == '0' ? 0 : (b >= '1' && b <= '3') ? 1 : 16;
    EXPECT_EQ(genotype_code_table[b], expected) << "byte " << b;
  }
}

TEST(GrowableArray, GrowsToFourThousandThenFourfoldWhenAnAppendWouldFillIt) {
  GrowableArray<VariantRecord> records;
  records.append(VariantRecord{7, "chr7"});
  EXPECT_EQ(records.capacity, 4096);
  for (int32_t i = 1; i < 4095; ++i) records.append(VariantRecord{i, "x"});
  EXPECT_EQ(records.capacity, 4096);
  records.append(VariantRecord{4095, "x"});  // the 4096th
  EXPECT_EQ(records.capacity, 16384);
  EXPECT_EQ(records.count, 4096);
  EXPECT_EQ(records.data[0].pos, 7);  // kept across the copy
  EXPECT_STREQ(records.data[0].chrom, "chr7");
  EXPECT_EQ(records.data[4095].pos, 4095);
  records.reset(0);

  GrowableArray<float> freqs;
  freqs.reset(256000);
  for (int32_t i = 0; i < 255999; ++i) freqs.append(0.5f);
  EXPECT_EQ(freqs.capacity, 256000);
  freqs.append(0.25f);
  EXPECT_EQ(freqs.capacity, 1024000);
  EXPECT_EQ(freqs.data[255999], 0.25f);
  freqs.reset(0);
}

TEST(GenotypeMatrix, AllocatesAlignedZeroedRowsAndReportsWholeMegabytes) {
  reset_genotype_store();
  SampleNames::count = 0;
  RunSettings::variant_capacity = 200000;
  CaptureStdout();
  GenotypeMatrix::allocate();
  EXPECT_EQ(GetCapturedStdout(),
            "      -   Allocation genotype vector  npeople=16 nvars=200000\n"
            "      -   GenotypeMatrix: allocating 3 MB of memory\n");
  EXPECT_EQ(reinterpret_cast<uintptr_t>(GenotypeMatrix::data) % sysconf(_SC_PAGESIZE), 0u);
  EXPECT_EQ(GenotypeMatrix::rows[199999], GenotypeMatrix::data + 199999 * 16);
  EXPECT_EQ(GenotypeMatrix::rows[199999][15], 0);
  // A capacity below one row could never grow.
  RunSettings::variant_capacity = 0;
  CaptureStdout();
  GenotypeMatrix::allocate();
  GetCapturedStdout();
  EXPECT_EQ(GenotypeMatrix::capacity, 1);
  RunSettings::variant_capacity = 200000;
  reset_genotype_store();
}

TEST(FailAllocation, PrintsMegabytesOnStandardOutputAndExitsWithOne) {
  EXPECT_EXIT(
      {
        fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        fail_allocation((int64_t{5} << 20) + 12345);
      },
      testing::ExitedWithCode(1), "^Error allocating 5 MB of memory\n$");
}
