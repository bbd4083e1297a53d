// The buffers between the stages: input blocks handed over in a ring, and
// report text gathered in row and output buffers and written out, down to the
// positions of a segment line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ibd/analysis_driver.h"
#include "ibd/output_buffer.h"
#include "ibd/pair_scan.h"
#include "input/block_ring.h"
#include "input/genotype_store.h"
#include "tests/test_util.h"

namespace {

// Four laps of the 32-entry ring: blocks come out in order, the producer
// waits while 30 are full until the consumer releases them, and releasing from
// an empty ring changes nothing.
TEST(BlockRing, BlocksComeOutInOrderAndTheProducerWaitsWhileThirtyAreFull) {
  auto ring = std::make_unique<Buffer_class>();
  uint8_t* data = nullptr;
  int32_t length = 0;
  int32_t taken = 0;
  const auto take_up_to = [&](int32_t last) {
    for (; taken < last; ring->dequeue()) {
      ASSERT_TRUE(ring->getdata(&data, &length));
      EXPECT_EQ(length, ++taken);
    }
  };
  for (int32_t block = 1; block <= 128; ++block) {
    std::atomic<int32_t> index{-1};
    std::thread producer([&] { index = ring->reserve(); });
    if (block - 1 - taken == 30) {
      usleep(20000);
      EXPECT_EQ(index.load(), -1) << block;
      take_up_to(block - 1);
    }
    for (int wait = 0; index < 0 && wait < 20000; ++wait) usleep(100);
    ASSERT_GE(index.load(), 0) << block;  // a producer left waiting ends the test program
    producer.join();
    ring->entries[index].length = block;
    ring->commit();
  }
  take_up_to(128);
  testing::internal::CaptureStderr();
  ring->dequeue();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "warning: dequeue Buffer_class: Buffer empty\n");
  EXPECT_EQ(ring->count.load(), 0);
}

// Texts and rows arrive whole and in order: an append that passes the flush
// mark writes everything, a text larger than the buffer goes straight out
// after the held text, rows drain past their mark, and a row that does not
// fit behind the held rows (if only by its terminating NUL) moves them out first.
TEST(ReportBuffers, TextsAndRowsArriveWholeAndInOrder) {
  TempDir dir;
  const std::string path = dir.file("out");
  auto out = std::make_unique<OutputBuffer>();
  out->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string at_mark(kOutputFlushAt, 'a'), huge(kOutputBufferSize + 9, 'h');
  const std::string fill(kOutputBufferSize - 4, 'f');  // no room for its NUL behind 4 bytes
  out->append(at_mark.c_str());
  EXPECT_EQ(read_file(path).size(), 0u);
  out->append("b");
  EXPECT_EQ(read_file(path).size(), at_mark.size() + 1);
  out->append("head");
  out->append(huge.c_str());
  out->append("tail");
  out->append(fill.c_str());
  RowBuffer rows;
  rows.target = out.get();
  const std::string row(127, 'r'), held(16000, 'h'), exact(kRowBufferSize - 16000, 'e');
  const std::string wide(kRowBufferSize, 'W');  // no room for its NUL in the whole row buffer
  for (int i = 0; i < 128; ++i) rows.add_row("%s\n", row.c_str());
  EXPECT_EQ(out->length, 0);  // 16384 bytes of rows do not pass the mark
  rows.add_row("%s\n", row.c_str());
  EXPECT_EQ(out->length, 129 * 128);
  for (const std::string* text : {&held, &exact, &wide}) rows.add_row("%s", text->c_str());
  rows.drain();
  out->flush();
  close(out->fd);
  std::string expected = at_mark + "b" + "head" + huge + "tail" + fill;
  for (int i = 0; i < 129; ++i) expected += row + "\n";
  EXPECT_TRUE(read_file(path) == expected + held + exact + wide);
}

// Chromosomes 1 (variants 0-9) and 2 (10-19); variant i at 1,000,000 + 150,000 i.
// A segment's positions come from its first and last variant, clamped to the
// retained ones, and its CHROM from the chromosome scanned.
TEST(SegmentLine, PositionsOfIndicesOutsideTheVariantsAreClamped) {
  VariantRecord records[21];
  for (int i = 0; i < 21; ++i) records[i] = {1000000 + 150000 * i, "chrA"};
  records[10].chrom[3] = 'B';  // the first variant of chromosome 2
  records[15].chrom[3] = 'C';
  std::string name = "beta";
  char* names[] = {name.data(), name.data()};
  SampleNames::names = names;
  variant_records = {records, 21, 21};
  GenotypeMatrix::nvars = 20;
  ChromosomeTable::count = 3;
  ChromosomeTable::cumulative.assign({0, 10, 20});
  RowBuffer lines;
  lines.target = &segments_output;
  PairScanContext context;
  context.segment_buffer = &lines;
  context.chromosome = 2;
  write_segment(&context, 2, 0, 1, -2, 23);
  context.chromosome = 3;  // no chromosome of the table: the name of the first variant
  write_segment(&context, 1, 1, 0, 15, 16);
  lines.drain();
  EXPECT_EQ(std::string(segments_output.data, segments_output.length),
            "IBD2             beta            beta   chrB        -2       23           1.0000 Mbp"
            "      2.8500 Mbp          26\n"
            "IBD1             beta            beta   chrC        15       16           3.2500 Mbp"
            "      0.1500 Mbp           2\n");
  segments_output.length = 0;
  variant_records = {};
  SampleNames::names = nullptr;
  reset_genotype_store();
}

}  // namespace
