// Worker threads, block ring, line splitter and line queue. The tests play
// the driver: they fill slot 0's ring and run the splitter, then drain the
// line queue as the reader would.
#include "input/line_queue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "input/thread_slots.h"

namespace {
using Lines = std::vector<std::pair<std::string, int32_t>>;  // text and sequence
const std::pair<std::string, int32_t> kEnd{"<end>", -1};

int32_t ran[8];                 // worker_index of each recorded job, in running order
std::atomic<int> ran_count{0};  // published after each entry of ran
std::atomic<bool> gate_open{false}, gated_job_running{false};

void record_job(ThreadSlot* slot, Job* job) {
  EXPECT_TRUE(pthread_equal(pthread_self(), slot->thread));
  const int n = ran_count.load();
  ran[n] = job->worker_index;
  ran_count.store(n + 1);
}

// Holds its slot until the test opens the gate, then records its own job record.
void gated_job(ThreadSlot* slot, Job* job) {
  gated_job_running = true;
  while (!gate_open) usleep(100);
  record_job(slot, job);
}

Job job_with(JobFunction fn, int32_t worker_index = 0) {
  Job job;
  job.fn = fn;
  job.worker_index = worker_index;
  return job;
}

template <typename Pred>
bool wait_until(Pred pred) {
  for (int i = 0; i < 50000 && !pred(); ++i) usleep(100);
  return pred();
}

// A slot's worker thread on a fresh pipe, stopped by the end token at the latest when destroyed.
class SlotThread {
 public:
  explicit SlotThread(int32_t index) : slot(thread_slots[index]) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    slot.pipe_read_fd = fds[0];
    slot.pipe_write_fd = fds[1];
    slot.index = index;
    slot.done = 0;
    slot.queue.njobs = 0;
    EXPECT_EQ(pthread_create(&slot.thread, nullptr, worker_thread, &slot), 0);
  }
  ~SlotThread() {
    gate_open = true;
    if (!slot.done) send(kTokenEnd);
    pthread_join(slot.thread, nullptr);
    close(slot.pipe_read_fd);
    close(slot.pipe_write_fd);
    slot.queue.njobs = 0;
  }
  void send(int32_t token) { EXPECT_EQ(write(slot.pipe_write_fd, &token, 4), 4); }
  ThreadSlot& slot;
};

class SplitterTest : public testing::Test {
 protected:
  ThreadSlot& slot = thread_slots[0];
  Buffer_class& ring = slot.ring;
  std::vector<uint8_t> block_memory = std::vector<uint8_t>(32 * 4096);

  void SetUp() override {
    for (int32_t k = 0; k < ring.capacity; ++k) ring.entries[k].data = &block_memory[k * 4096];
    ring.head = ring.tail = ring.count = 0;
    ring.error_flag = 0;
    slot.done = 0;
    line_queue.read = line_queue.write = line_queue.count = 0;
    free(PartialLine::buffer);
    PartialLine::allocate();
  }
  void TearDown() override { EXPECT_EQ(line_queue.count.load(), 0); }

  // The producer's three steps; an empty text commits the end entry.
  void commit(const std::string& text) {
    BlockEntry& e = ring.entries[ring.reserve()];
    memcpy(e.data, text.data(), text.size());
    e.length = text.empty() ? -1 : static_cast<int32_t>(text.size());
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

TEST(SlotThread, JobsRunOneAtATimeInPostingOrderUntilTheEndToken) {
  const int32_t kSlot = 21;
  ran_count = 0;
  gate_open = gated_job_running = false;
  SlotThread worker(kSlot);
  post_job(kSlot, job_with(gated_job, 5));
  ASSERT_TRUE(wait_until([] { return gated_job_running.load(); }));
  post_job(kSlot, job_with(record_job, 99));  // reuses the list entry job 5 came from
  post_job(kSlot, job_with(record_job, 3));
  worker.send(kTokenEnd);
  post_job(kSlot, job_with(record_job, 4));  // behind the end token: never run
  usleep(20000);
  EXPECT_EQ(ran_count.load(), 0);  // all wait for the running job
  gate_open = true;
  ASSERT_TRUE(wait_until([&] { return worker.slot.done.load() == 1; }));
  EXPECT_EQ(std::vector<int32_t>(ran, ran + ran_count.load()), (std::vector<int32_t>{5, 99, 3}));
  EXPECT_EQ(worker.slot.queue.njobs.load(), 1);
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
      // a block ending in a newline, an empty line, a block without newline
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
  feed({"abc", "abc"});
  EXPECT_EQ(line_queue.count.load(), 0);
  EXPECT_EQ(PartialLine::fill, 6);
  EXPECT_EQ(ring.count.load(), 0);  // the blocks are released all the same
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
  std::string block;
  for (int i = 0; i < 600; ++i) block += std::to_string(1000 + i) + "\n";
  SlotThread worker(0);
  for (const std::string& b : {block, std::string()}) {
    commit(b);
    post_job(0, job_with(split_lines_job));
  }
  wait_until([] { return line_queue.count.load() >= kLineQueueMaxFill; });
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
}
}  // namespace
