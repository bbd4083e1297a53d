#include "ibd/output_buffer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "ibd/analysis_driver.h"
#include "ibd/pair_scan.h"
#include "input/genotype_store.h"
#include "tests/test_util.h"

namespace {

TEST(ReportBuffers, LongTextsAndRowsArriveWholeAndInOrder) {
  TempDir dir;
  auto out = std::make_unique<OutputBuffer>();
  out->fd = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string at_threshold(kOutputFlushAt, 'a'), huge(kOutputBufferSize + 9, 'h');
  out->append(at_threshold.c_str());
  out->append("b");  // passes the threshold: all is written
  out->append("head");
  out->append(huge.c_str());  // larger than the whole buffer
  out->append("tail");

  RowBuffer rows;
  rows.target = out.get();
  const std::string row(99, 'r'), held(16000, 'h'), wide(3000, 'w'), wider(40000, 'W');
  for (int i = 0; i < 164; ++i) rows.add_row("%s\n", row.c_str());  // drained at 16400
  rows.add_row("%s", held.c_str());
  rows.add_row("%s", wide.c_str());  // no room behind the held rows: they go first
  rows.add_row("%s", wider.c_str());  // larger than the whole row buffer
  rows.drain();
  out->flush();
  close(out->fd);
  std::string expected = at_threshold + "b" + "head" + huge + "tail";
  for (int i = 0; i < 164; ++i) expected += row + "\n";
  EXPECT_TRUE(read_file(dir.file("out")) == expected + held + wide + wider);
}

TEST(ReportBuffers, FailedWriteIsReportedAndFailsTheRun) {
  auto buffer = std::make_unique<OutputBuffer>();
  buffer->fd = open("/dev/full", O_WRONLY);
  testing::internal::CaptureStderr();
  buffer->append(std::string(kOutputFlushAt + 1, 'z').c_str());
  buffer->append("next");  // the text was dropped and the run goes on
  EXPECT_EQ(buffer->length, 4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "write: No space left on device\n");
  EXPECT_EQ(final_exit_status.exchange(0), 1);
  close(buffer->fd);
}

void ignore_signal(int) {}

TEST(ReportBuffers, ShortAndInterruptedWritesAreCompleted) {
  // A writer blocked on a full pipe and hit by signals (no SA_RESTART) gets
  // short counts and EINTR; every byte must still arrive, in order.
  struct sigaction action = {}, previous = {};
  action.sa_handler = ignore_signal;
  sigaction(SIGUSR1, &action, &previous);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string text;
  for (int i = 0; text.size() < (1 << 20); ++i) text += std::to_string(i) + ",";
  std::atomic<bool> finished{false};
  std::thread writer([&] {
    EXPECT_TRUE(write_fully(fds[1], text.data(), static_cast<int64_t>(text.size())));
    finished = true;
    close(fds[1]);
  });
  std::string received;
  char chunk[8192];
  for (ssize_t n = 1; n != 0;) {  // until the writer closes its end
    usleep(200);
    if (!finished) pthread_kill(writer.native_handle(), SIGUSR1);
    n = read(fds[0], chunk, sizeof chunk);
    if (n > 0) received.append(chunk, static_cast<size_t>(n));
  }
  writer.join();
  sigaction(SIGUSR1, &previous, nullptr);
  close(fds[0]);
  EXPECT_TRUE(received == text);
  EXPECT_EQ(final_exit_status.load(), 0);
}

TEST(SegmentLine, NamesTheScannedChromosomeClampsPositionsAndKeepsLongNames) {
  // Two chromosomes of 10 variants; variant i at 1,000,000 + 150,000 i.
  VariantRecord records[20];
  for (int i = 0; i < 20; ++i) {
    records[i].pos = 1000000 + 150000 * i;
    snprintf(records[i].chrom, sizeof records[i].chrom, "%s", i < 10 ? "chrA" : "chrB");
  }
  std::string long_name(7000, 'L'), beta = "beta";  // a name longer than any fixed line buffer
  char* names[] = {long_name.data(), beta.data()};
  SampleNames::names = names;
  variant_records.data = records;
  variant_records.count = GenotypeMatrix::nvars = 20;
  ChromosomeTable::count = 3;
  ChromosomeTable::cumulative.assign(256, 0);
  ChromosomeTable::cumulative[1] = 10;
  ChromosomeTable::cumulative[2] = 20;
  TempDir dir;
  segments_output.fd = open(dir.file("seg").c_str(), O_WRONLY | O_CREAT, 0600);
  RowBuffer lines;
  lines.target = &segments_output;
  PairScanContext context;
  context.segment_buffer = &lines;
  context.chromosome = 1;
  write_segment(&context, 1, 1, 1, 6, 8);  // start + 4 lies in chrB
  write_segment(&context, 1, 1, 1, -2, 23);
  context.chromosome = 2;
  write_segment(&context, 1, 0, 1, 10, 19);
  lines.drain();
  segments_output.flush();
  close(segments_output.fd);
  segments_output.fd = -1;
  variant_records = {};
  SampleNames::names = nullptr;
  EXPECT_EQ(read_file(dir.file("seg")),
            "IBD1             beta            beta   chrA         6        8           1.9000 Mbp"
            "      0.3000 Mbp           3\n"
            "IBD1             beta            beta   chrA        -2       23           1.0000 Mbp"
            "      2.8500 Mbp          26\n"
            "IBD1  " +
                long_name +
                "            beta   chrB        10       19           2.5000 Mbp"
                "      1.3500 Mbp          10\n");
}

}  // namespace
