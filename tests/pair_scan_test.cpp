// The plain pair scans on hand-built transposed rows, and the rows and
// segment lines that scan_pair writes from them.
#include "ibd/pair_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ibd/ibs_thresholds.h"
#include "ibd/output_buffer.h"
#include "ibd/pair_scan_kernels.h"
#include "ibd/transposed_matrix.h"
#include "input/genotype_store.h"
#include "setup/run_settings.h"
#include "tests/packed_rows.h"
#include "tests/test_util.h"

namespace {

using Codes = std::vector<int>;

struct Genome {
  std::vector<int32_t> cumulative;
  ScanLayout layout(int32_t t1, int32_t t2) const {
    return {cumulative.data(), static_cast<int32_t>(cumulative.size()), cumulative.back(), t1, t2};
  }
};

struct Scan {
  PairScanTotals totals;
  SegmentList segments;
};

Scan tolerant(const Codes& a, const Codes& b, const ScanLayout& layout) {
  Scan s;
  const auto ra = pack_codes(a), rb = pack_codes(b);
  s.totals = scan_tolerant_ref(ra.data(), rb.data(), layout, &s.segments);
  return s;
}

Scan merging(const Codes& a, const Codes& b, const ScanLayout& layout) {
  Scan s;
  const auto ra = pack_codes(a), rb = pack_codes(b);
  s.totals = scan_merging_ref(ra.data(), rb.data(), layout, &s.segments);
  return s;
}

PairScanTotals strict(const Codes& a, const Codes& b, const ScanLayout& layout) {
  const auto ra = pack_codes(a), rb = pack_codes(b);
  return scan_strict_ref(ra.data(), rb.data(), layout);
}

// Codes that break IBS2 but not IBS1 against 0 (one allele apart), and that
// break both (opposite homozygotes).
constexpr int kOneApart = 1;
constexpr int kOpposite = 2;

// Sets the codes of byte `byte`'s first variant.
void set_first(Codes& codes, int byte, int code) { codes[2 * byte] = code; }

}  // namespace

TEST(IbsRunTables, EveryEntryFollowsTheMatchRule) {
  auto leading = [](int index, bool (*match)(int, int)) {
    const int a = index >> 4, b = index & 15;
    if (!match(a >> 2, b >> 2)) return 0;
    return match(a & 3, b & 3) ? 2 : 1;
  };
  auto ibs2 = [](int x, int y) { return x == y || x == 3 || y == 3; };
  auto ibs1 = [](int x, int y) { return std::abs(x - y) <= 1 || x == 3 || y == 3; };
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(ibs2_run_table[i], leading(i, ibs2)) << "pair index " << i;
    EXPECT_EQ(ibs1_run_table[i], leading(i, ibs1)) << "pair index " << i;
  }
  // A few rows worked out by hand.
  EXPECT_EQ(ibs2_run_table[1], 1);
  EXPECT_EQ(ibs1_run_table[2], 1);
  EXPECT_EQ(ibs1_run_table[90], 2);
  EXPECT_EQ(ibs2_run_table[90], 0);
}

TEST(TolerantScan, IdenticalSamplesGiveOneRunOfEachKindClosedAtTheEnd) {
  const int m = 50;
  const Genome g{{0, 2 * m}};
  Codes a(2 * m);
  for (int v = 0; v < 2 * m; ++v) a[v] = v % 3;
  const Scan s = tolerant(a, a, g.layout(10, 10));
  EXPECT_EQ(s.totals, (PairScanTotals{2 * m, 2 * m, 1, 1, 2 * m, 2 * m}));
  EXPECT_EQ(s.segments, (SegmentList{{1, 1, 2, 2 * m - 2}, {2, 1, 2, 2 * m - 2}}));
}

TEST(TolerantScan, MissingCodesMatchAnything) {
  const Genome g{{0, 40}};
  Codes missing(40, 3), other(40);
  for (int v = 0; v < 40; ++v) other[v] = (v * 7) % 3;
  const Scan s = tolerant(missing, other, g.layout(5, 5));
  EXPECT_EQ(s.totals.sum2, 40);
  EXPECT_EQ(s.totals.segs2, 1);
  EXPECT_EQ(tolerant(other, missing, g.layout(5, 5)).totals, s.totals);
}

TEST(TolerantScan, IbsTwoRunSurvivesFourBreaksAndEndsAtTheFifth) {
  const Genome g{{0, 400}};
  const Codes a(400, 0);
  Codes b(400, 0);
  // Second variant one allele apart: t2 = 1 at each break byte.
  for (int byte : {20, 50, 80, 110}) b[2 * byte + 1] = kOneApart;
  Scan four = tolerant(a, b, g.layout(1000, 10));
  EXPECT_EQ(four.segments, (SegmentList{{2, 1, 6, 398}}));  // 196 * 2 + 4 * 1
  EXPECT_EQ(four.totals.longest2, 396);
  EXPECT_EQ(four.totals.longest1, 400);  // IBS1 never broke

  b[2 * 140 + 1] = kOneApart;
  Scan five = tolerant(a, b, g.layout(1000, 10));
  // Closed at byte 140 (P = 280) with the five t2 of 1 included: 136 * 2 + 5.
  EXPECT_EQ(five.segments, (SegmentList{{2, 1, 5, 278}, {2, 1, 284, 398}}));
  EXPECT_EQ(five.totals, (PairScanTotals{0, 277 + 118, 0, 2, 400, 277}));
}

TEST(TolerantScan, PenaltyOfIbsOneBreaksAndItsDecay) {
  const Genome g{{0, 400}};
  const Codes a(400, 0);
  const ScanLayout layout = g.layout(10, 100000);
  auto ibd1_segments = [&](const std::vector<int>& break_bytes) {
    Codes b(400, 0);
    for (int byte : break_bytes) set_first(b, byte, kOpposite);
    SegmentList out;
    for (const IbdSegment& s : tolerant(a, b, layout).segments)
      if (s.type == 1) out.push_back(s);
    return out;
  };
  // Three breaks in a row (70, 139, 208) leave the run open: 197 * 2.
  EXPECT_EQ(ibd1_segments({100, 101, 102}), (SegmentList{{1, 1, 8, 398}}));
  // The fourth (277) ends it at P = 206 with 100 clean bytes.
  EXPECT_EQ(ibd1_segments({100, 101, 102, 103}), (SegmentList{{1, 1, 8, 204}, {1, 1, 210, 398}}));
  // Seventy clean bytes after a lone break bring the penalty back to 0, so
  // three more breaks (70, 139, 208) do not end the run...
  EXPECT_EQ(ibd1_segments({50, 121, 122, 123}), (SegmentList{{1, 1, 10, 398}}));
  // ...while after 30 clean bytes (penalty 40) the third break passes 231.
  EXPECT_EQ(ibd1_segments({50, 81, 82, 83}), (SegmentList{{1, 1, 8, 164}, {1, 1, 170, 398}}));
  // The run ends when the penalty passes 231, not at 231: 70, 139, then 46
  // clean bytes, 162, 231 keep it; with 45 clean bytes, 232 ends it.
  EXPECT_EQ(ibd1_segments({50, 51, 98, 99}), (SegmentList{{1, 1, 10, 398}}));
  EXPECT_EQ(ibd1_segments({50, 51, 97, 98}), (SegmentList{{1, 1, 8, 194}, {1, 1, 200, 398}}));
  // Clean bytes that break IBS2 (but not IBS1) pay the penalty back as well.
  Codes b(400, 0);
  for (int byte : {50, 121, 122, 123}) set_first(b, byte, kOpposite);
  for (int byte = 60; byte < 120; byte += 2) set_first(b, byte, kOneApart);
  int ibd1 = 0;
  for (const IbdSegment& s : tolerant(a, b, layout).segments) ibd1 += s.type == 1;
  EXPECT_EQ(ibd1, 1);
}

TEST(MergingScan, JoinsRunsOneBreakApartWhenLongEnough) {
  const Codes a(140, 0);
  const Genome g{{0, 140}};
  const ScanLayout layout = g.layout(1000, 100);  // quarter 25, half 50
  auto with_breaks = [&](const std::vector<int>& bytes) {
    Codes b(140, 0);
    for (int byte : bytes) set_first(b, byte, kOneApart);  // t2 = 0, t1 = 2
    return merging(a, b, layout);
  };
  // 30, then 60: merged into 91, which goes on to 91 + 2 * 23 at the end.
  const Scan merged = with_breaks({15, 46});
  EXPECT_EQ(merged.segments, (SegmentList{{2, 1, 140 - 137 + 2, 138}}));
  EXPECT_EQ(merged.totals.sum2, 137);
  // 20 is too short to merge: the 60 is saved in its place, and merges with
  // the 30 after it.
  const Scan replaced = with_breaks({10, 41, 57});
  EXPECT_EQ(replaced.segments, (SegmentList{{2, 1, 140 - 115 + 2, 138}}));
  // Nothing merges at all: no segment.
  EXPECT_TRUE(with_breaks({10, 21, 57}).segments.empty());
}

TEST(MergingScan, IbsOneRunsEndAtEveryBreakWhateverTheThreshold) {
  const Genome g{{0, 60}};
  const Codes a(60, 0);
  Codes b(60, 0);
  set_first(b, 10, kOpposite);
  set_first(b, 11, kOpposite);
  const ScanLayout layout = g.layout(-5, 1000);
  SegmentList ibd1;
  for (const IbdSegment& s : merging(a, b, layout).segments)
    if (s.type == 1) ibd1.push_back(s);
  // 20 at byte 10, an empty run at byte 11, then 36 to the end.
  EXPECT_EQ(ibd1, (SegmentList{{1, 1, 2, 18}, {1, 1, 24, 20}, {1, 1, 26, 58}}));
}

TEST(StrictScan, RunsCrossChromosomesAndTheOddLastVariantIsLeftOut) {
  const Codes same(101, 1);
  const Genome g{{0, 50, 101}};
  EXPECT_EQ(strict(same, same, g.layout(10, 10)), (PairScanTotals{100, 100, 1, 1, 100, 100}));
  // The tolerant scan cuts at the boundary; the shared byte (variants 50 and
  // 51) belongs to the second chromosome, and variant 100 is not scanned.
  const Scan s = tolerant(same, same, g.layout(10, 10));
  EXPECT_EQ(s.segments,
            (SegmentList{{1, 1, 2, 48}, {2, 1, 2, 48}, {1, 2, 52, 98}, {2, 2, 52, 98}}));
}

TEST(TolerantScan, ByteSharedByTwoChromosomesIsScannedWithTheLaterOne) {
  const Genome g{{0, 51, 100}};
  const Codes a(100, 0);
  Codes b(100, 0);
  b[50] = kOpposite;  // last variant of chromosome 1, first half of byte 25
  const Scan s = tolerant(a, b, g.layout(10, 10));
  EXPECT_EQ(s.segments,
            (SegmentList{{1, 1, 2, 48}, {2, 1, 2, 48}, {1, 2, 54, 98}, {2, 2, 54, 98}}));
}

TEST(TolerantScan, NoChromosomeMeansNothingScannedAndEmptyRangesCloseEmptyRuns) {
  const Codes a(20, 0);
  const Genome none{{0}};
  EXPECT_EQ(tolerant(a, a, none.layout(-1, -1)).totals, PairScanTotals{});
  // A chromosome of one variant has no whole byte; with negative thresholds
  // its two empty runs still count.
  const Genome tiny{{0, 18, 19, 20}};
  const Scan s = tolerant(a, a, tiny.layout(-1, -1));
  EXPECT_EQ(s.totals.segs1, 3);
  ASSERT_EQ(s.segments.size(), 6u);
  EXPECT_EQ(s.segments[3], (IbdSegment{2, 2, 20, 16}));
}

// scan_pair on the process-wide data, with the two report buffers written to
// files of a temporary folder.
class ScanPairOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_cumulative = ChromosomeTable::cumulative;
    saved_count = ChromosomeTable::count;
    ibd_output.fd = open(dir.file("ibd").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    segments_output.fd = open(dir.file("segments").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ibd_output.length = 0;
    segments_output.length = 0;
    row_buffer.length = 0;
    context.row_buffer = &row_buffer;
    names = {const_cast<char*>("S1"), const_cast<char*>("S2")};
    SampleNames::names = names.data();
    SampleNames::count = 2;
    RunSettings::report_segments = 1;
    RunSettings::report_threshold = -999;
    RunSettings::scan_mode = 2;
    IbdThresholds::ibd1_markers = 10;
    IbdThresholds::ibd2_markers = 10;
  }
  void TearDown() override {
    close(ibd_output.fd);
    close(segments_output.fd);
    ibd_output.fd = segments_output.fd = -1;
    ChromosomeTable::cumulative = saved_cumulative;
    ChromosomeTable::count = saved_count;
    variant_records.data = nullptr;
    variant_records.count = variant_records.capacity = 0;
  }
  void set_genome(const Codes& a, const Codes& b, std::vector<int32_t> cumulative) {
    rows = {pack_codes(a), pack_codes(b)};
    row_pointers = {rows[0].data(), rows[1].data()};
    GenotypeMatrixTransposed::rows = row_pointers.data();
    nvars = static_cast<int32_t>(a.size());
    ChromosomeTable::count = static_cast<int32_t>(cumulative.size());
    cumulative.resize(256, nvars);
    ChromosomeTable::cumulative = cumulative;
    records.assign(nvars, VariantRecord{0, "1"});
    for (int32_t v = 0; v < nvars; ++v) records[v].pos = 1000 * (v + 1);
    variant_records.data = records.data();
    variant_records.count = variant_records.capacity = nvars;
  }
  // The two files as they would be at the end of the run.
  std::string ibd_text() {
    row_buffer.drain();
    ibd_output.flush();
    return read_file(dir.file("ibd"));
  }
  std::string segments_text() {
    segments_output.flush();
    return read_file(dir.file("segments"));
  }

  TempDir dir;
  RowBuffer row_buffer;
  PairScanContext context;
  std::vector<char*> names;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<uint8_t*> row_pointers;
  std::vector<VariantRecord> records;
  int32_t nvars = 0;
  std::vector<int32_t> saved_cumulative;
  int32_t saved_count = 0;
};

TEST_F(ScanPairOutput, TolerantRowAndSegmentLinesOfIdenticalSamples) {
  const Codes a(100, 2);
  set_genome(a, a, {0, 100});
  scan_pair(&context, nvars, 0, 1);
  EXPECT_EQ(ibd_text(),
            "                S1                 S2      100        0     0.000000             100"
            "          1  0.000000             100          1  1.000000\n");
  const std::string lines = segments_text();
  ASSERT_EQ(lines.substr(0, 5), "IBD1 ");
  EXPECT_EQ(lines.substr(lines.find('\n') + 1, 5), "IBD2 ");
  EXPECT_EQ(context.longest_ibs1, 100);
  EXPECT_EQ(context.longest_ibs2, 100);
}

TEST_F(ScanPairOutput, MergingAndStrictRowsEndInTwoNotAvailableColumns) {
  const Codes a(100, 2);
  set_genome(a, a, {0, 50, 100});
  const std::string row_end = "  1.000000           NA      NA\n";
  RunSettings::scan_mode = 1;
  scan_pair(&context, nvars, 0, 1);
  RunSettings::scan_mode = 0;
  scan_pair(&context, nvars, 0, 1);
  const std::string text = ibd_text();
  const size_t first_end = text.find('\n') + 1;
  ASSERT_GT(first_end, row_end.size());
  EXPECT_EQ(text.substr(first_end - row_end.size(), row_end.size()), row_end);
  EXPECT_EQ(text.substr(text.size() - row_end.size()), row_end);
  // Two chromosomes give the merging scan four segment lines; the strict scan writes none.
  const std::string lines = segments_text();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4);
}

TEST_F(ScanPairOutput, PairBelowTheReportThresholdKeepsItsSegmentLinesButHasNoRow) {
  Codes a(400, 0), b(400, 0);
  for (int v = 20; v < 400; v += 2) b[v] = kOpposite;  // IBS only over variants 0..19
  set_genome(a, b, {0, 400});
  RunSettings::report_threshold = 0.1;  // the pair has 20 / 400 = 0.05
  scan_pair(&context, nvars, 0, 1);
  EXPECT_EQ(ibd_text(), "");
  EXPECT_NE(segments_text().find("IBD2 "), std::string::npos);
}

TEST_F(ScanPairOutput, BatchesWriteWhatSingleScansWriteWithEveryKernel) {
  Codes a(300), b(300);
  for (int v = 0; v < 300; ++v) {
    a[v] = (v * v) % 4;
    b[v] = v % 90 < 60 ? a[v] : (v % 3);
  }
  set_genome(a, b, {0, 131, 300});
  const int32_t first[] = {0, 1, 0, 1, 1, 0, 0, 1};
  const int32_t second[] = {1, 0, 0, 1, 0, 1, 1, 1};
  for (int i = 0; i < 8; ++i) scan_pair(&context, nvars, first[i], second[i]);
  const std::string rows_single = ibd_text(), lines_single = segments_text();
  ASSERT_NE(lines_single, "");
  for (ScanKernel kernel : {ScanKernel::reference, ScanKernel::avx2, ScanKernel::avx512}) {
    if (!scan_kernel_supported(kernel)) continue;
    ASSERT_EQ(ftruncate(ibd_output.fd, 0), 0);
    ASSERT_EQ(ftruncate(segments_output.fd, 0), 0);
    lseek(ibd_output.fd, 0, SEEK_SET);
    lseek(segments_output.fd, 0, SEEK_SET);
    force_scan_kernel(kernel);
    scan_pairs(&context, nvars, first, second, 8);
    reset_scan_kernel();
    EXPECT_EQ(ibd_text(), rows_single) << scan_kernel_name(kernel);
    EXPECT_EQ(segments_text(), lines_single) << scan_kernel_name(kernel);
  }
}
