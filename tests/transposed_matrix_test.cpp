#include "ibd/transposed_matrix.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "input/genotype_store.h"

namespace {

TEST(TransposedMatrix, EveryByteComesFromTheMatchingMatrixRowAcrossTiles) {
  // Sizes that cross the copy's tiles; the column after the last sample and
  // the rows past the odd variant count are zero, as the reader leaves them.
  const int32_t samples = 70, nvars = 131, width = samples + 16;
  std::vector<std::vector<uint8_t>> matrix(140, std::vector<uint8_t>(width, 0));
  std::vector<uint8_t*> matrix_rows;
  std::mt19937 random(7);
  for (size_t r = 0; r < matrix.size(); ++r) {
    for (int32_t s = 0; s < samples && r < (nvars + 1) / 2; ++s) matrix[r][s] = random() % 16;
    matrix_rows.push_back(matrix[r].data());
  }
  GenotypeMatrix::rows = matrix_rows.data();
  GenotypeMatrix::nvars = nvars;
  SampleNames::count = samples;
  testing::internal::CaptureStdout();
  build_transposed_matrix(timeval{});
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind(
                "\n[*]  Starting IBD segment loop\n"
                "      -   Allocation genotype vector transposed npeople=71 nvars=131\n"
                "      -   GenotypeMatrixTransposed: allocating 0 MB of memory\n"
                "\n\n[*]  Genotype pre-processing duration:  ", 0),
            0u);
  namespace T = GenotypeMatrixTransposed;
  int mismatches = 0;
  for (int32_t i = 0; i <= samples; ++i) {
    for (int32_t v = 0; v < nvars; ++v) mismatches += T::rows[i][v] != matrix[v][i];
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(T::rows[samples], T::data + samples * nvars);
  free(T::data);
  free(T::rows);
}

TEST(TransposedMatrix, SizeInMegabytesIsComputedIn64Bits) {
  EXPECT_EQ(transposed_matrix_megabytes(1001, 500000), 477);
  EXPECT_EQ(transposed_matrix_megabytes(3001, 2000000), 5723);
}

TEST(ReportHeaders, HaveTheirFixedText) {
  char line[1024];
  EXPECT_EQ(format_ibd_header(line, sizeof line), 143);
  EXPECT_STREQ(line,
               "               ID1                ID2    NMARK  NCOMMON         IBD0        "
               "IBD1_MAX IBD1_NSEGS      IBD1        IBD2_MAX IBD2_NSEGS      IBD2\n");
  EXPECT_EQ(format_segments_header(line, sizeof line), 113);
  EXPECT_STREQ(line,
               "TYPE              ID1             ID2  CHROM  VARSTART   VAREND              "
               "POS Mbp      LENGTH Mbp    NMARKERS\n");
}

}  // namespace
