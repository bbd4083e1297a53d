// Block ring, line queue and line splitter. The test plays the driver: it
// fills slot 0's ring and runs the splitter, then drains the line queue as
// the reader would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "input/line_queue.h"
#include "input/thread_slots.h"

namespace {

using Lines = std::vector<std::pair<std::string, int32_t>>;  // text and sequence
const std::pair<std::string, int32_t> kEnd{"<end>", -1};

class SplitterTest : public ::testing::Test {
 protected:
  ThreadSlot& slot = thread_slots[0];
  Buffer_class& ring = slot.ring;
  std::vector<uint8_t> block_memory;
  int32_t last_block_number = 10;

  void SetUp() override {
    give_block_memory(16);
    last_block_number = 10;
    ring.head = ring.tail = ring.count = 0;
    ring.error_flag = 0;
    slot.done = 0;
    line_queue.read = line_queue.write = line_queue.count = 0;
    free(PartialLine::buffer);
    PartialLine::allocate();
  }
  void TearDown() override { EXPECT_EQ(line_queue.count.load(), 0); }

  void give_block_memory(int32_t size) {
    block_memory.assign(static_cast<size_t>(ring.capacity + 1) * size, 0);
    for (int32_t k = 0; k < ring.capacity; ++k) ring.entries[k].data = &block_memory[k * size];
  }
  // The producer's three steps; an empty text commits the end entry.
  void commit(const std::string& text) {
    BlockEntry& e = ring.entries[ring.reserve()];
    memcpy(e.data, text.data(), text.size());
    e.length = text.empty() ? -1 : static_cast<int32_t>(text.size());
    e.sequence = text.empty() ? -1 : ++last_block_number;
    ring.commit();
  }
  void split_one() {
    Job job;
    split_lines_job(&slot, &job);
  }
  void feed(const std::vector<std::string>& blocks) {
    for (const std::string& b : blocks) {
      commit(b);
      split_one();
    }
  }
  // Takes every queued entry, end marker included, releasing the lines.
  static Lines drain() {
    Lines lines;
    while (line_queue.count.load() > 0) {
      LineEntry e = line_queue.getdata();
      lines.push_back(e.sequence < 0 ? kEnd : std::pair{std::string(e.line, e.length), e.sequence});
      free(e.line);
      line_queue.dequeue();
    }
    return lines;
  }
};

TEST(FindNewline, ScansOnlyTheGivenBytes) {
  const uint8_t* text = reinterpret_cast<const uint8_t*>("\nab\ncd\n");
  EXPECT_EQ(find_newline(text, 0), -1);
  EXPECT_EQ(find_newline(text, -5), -1);
  EXPECT_EQ(find_newline(text, 7), 0);
  EXPECT_EQ(find_newline(text + 1, 6), 2);
  EXPECT_EQ(find_newline(text + 1, 2), -1);  // a newline right after the range does not count
}

TEST_F(SplitterTest, BlocksBecomeWholeLinesThenTheEndMarker) {
  struct Case {
    std::vector<std::string> blocks;  // "" is the end entry
    Lines lines;
  };
  const Case cases[] = {
      // lines within one block, across two and across three
      {{"ab\ncdefghijklmno", "pq\nrstuvwxyz0123", "456789ABCDEFGHIJ", "K\n", ""},
       {{"ab\n", 1}, {"cdefghijklmnopq\n", 1}, {"rstuvwxyz0123456789ABCDEFGHIJK\n", 1}, kEnd}},
      // a block ending in a newline, empty lines, a block without newline
      {{"x\ny\n\n", "z\n", "abc", "d\n", ""},
       {{"x\n", 1}, {"y\n", 2}, {"\n", 3}, {"z\n", 1}, {"abcd\n", 1}, kEnd}},
      {{""}, {kEnd}},
      // a last line without newline still reaches the reader
      {{"ab\ncd", ""}, {{"ab\n", 1}, {"cd\n", 1}, kEnd}},
  };
  for (const Case& c : cases) {
    SetUp();
    feed(c.blocks);
    EXPECT_EQ(drain(), c.lines);
    EXPECT_EQ(PartialLine::fill, 0);
    EXPECT_EQ(ring.count.load(), 0);
  }
  EXPECT_EQ(ring.entries[0].sequence, 11);  // of the last case
  EXPECT_EQ(ring.entries[1].sequence, -1);
  EXPECT_EQ(ring.entries[1].length, -1);

  feed({"abc"});
  EXPECT_EQ(line_queue.count.load(), 0);
  EXPECT_EQ(PartialLine::fill, 3);
  EXPECT_EQ(ring.count.load(), 0);  // the block is released all the same
}

TEST_F(SplitterTest, LineLongerThanTheLineBufferGrowsItsBuffer) {
  give_block_memory(1 << 20);
  std::string expected;
  for (char c : {'a', 'b', 'c'}) {
    feed({std::string(1 << 20, c)});
    expected += std::string(1 << 20, c);
  }
  feed({"xyz\nrest"});
  EXPECT_EQ(PartialLine::capacity, kLineBufferSize);  // the next line starts in a normal buffer
  feed({""});
  Lines lines = drain();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].first == expected + "xyz\n");
  EXPECT_EQ(lines[1], (std::pair<std::string, int32_t>{"rest\n", 1}));
}

TEST_F(SplitterTest, ReleasingFromAnEmptyRingOrQueueWarnsAndChangesNothing) {
  testing::internal::CaptureStderr();
  split_one();
  ring.dequeue();
  line_queue.dequeue();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "warning: getdata Buffer_class: buffer empty\n"
            "warning: dequeue Buffer_class: Buffer empty\n"
            "AtomicCircularQueue Buffer empty\n");
  EXPECT_EQ(slot.done.load(), 1);
  EXPECT_EQ(ring.head.load() + ring.count.load() + line_queue.read.load(), 0);
  // Once in error, the slot splits nothing more and keeps the block.
  slot.done = 0;
  feed({"a\n"});
  EXPECT_EQ(slot.done.load(), 1);
  EXPECT_EQ(ring.count.load(), 1);
  EXPECT_EQ(line_queue.count.load(), 0);
}

TEST_F(SplitterTest, ProducerWaitsWhileThirtyBlocksAreFull) {
  for (int i = 0; i < 30; ++i) commit("l\n");
  std::atomic<bool> reserved{false};
  std::thread producer([&] {
    ring.reserve();
    reserved = true;
  });
  usleep(20000);
  EXPECT_FALSE(reserved.load());
  split_one();
  producer.join();
  EXPECT_EQ(drain(), (Lines{{"l\n", 1}}));
}

// The whole hand-off on slot 0's thread: the splitter holds at 510 queued
// lines until the reader (this thread) releases some.
TEST_F(SplitterTest, SplitterOnItsThreadWaitsWhileTheQueueIsFull) {
  give_block_memory(4096);
  std::string block;
  for (int i = 0; i < 600; ++i) block += std::to_string(1000 + i) + "\n";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  slot.pipe_read_fd = fds[0];
  slot.pipe_write_fd = fds[1];
  ASSERT_EQ(pthread_create(&slot.thread, nullptr, worker_thread, &slot), 0);
  Job job;
  job.fn = split_lines_job;
  for (const std::string& b : {block, std::string()}) {
    commit(b);
    post_job(0, job);
  }
  for (int i = 0; i < 50000 && line_queue.count.load() < kLineQueueMaxFill; ++i) usleep(100);
  usleep(20000);
  EXPECT_EQ(line_queue.count.load(), kLineQueueMaxFill);
  for (int32_t next = 1;; ++next) {
    LineEntry e = line_queue.getdata();
    if (e.sequence < 0) {
      EXPECT_EQ(next, 601);
      break;
    }
    EXPECT_EQ(std::string(e.line, e.length), std::to_string(999 + next) + "\n");
    EXPECT_EQ(e.sequence, next);
    free(e.line);
    line_queue.dequeue();
  }
  line_queue.dequeue();  // the end marker

  int32_t end = kTokenEnd;
  ASSERT_EQ(write(fds[1], &end, 4), 4);
  pthread_join(slot.thread, nullptr);
  EXPECT_EQ(slot.done.load(), 1);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
