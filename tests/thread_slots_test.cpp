// Worker loop, job posting and the pipe tokens, on a real slot thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "input/thread_slots.h"

namespace {

std::mutex ran_lock;
std::vector<int32_t> ran;  // worker_index of each job, in running order
std::atomic<bool> gate_open{false}, gated_job_running{false};

void record_job(ThreadSlot* slot, Job* job) {
  EXPECT_TRUE(pthread_equal(pthread_self(), slot->thread));
  std::lock_guard<std::mutex> hold(ran_lock);
  ran.push_back(job->worker_index);
}

// Holds its slot until the test opens the gate, then records its own job record.
void gated_job(ThreadSlot* slot, Job* job) {
  gated_job_running = true;
  while (!gate_open) usleep(100);
  record_job(slot, job);
}

template <typename Pred>
bool wait_until(Pred pred) {
  for (int i = 0; i < 50000 && !pred(); ++i) usleep(100);
  return pred();
}

size_t ran_count() {
  std::lock_guard<std::mutex> hold(ran_lock);
  return ran.size();
}

Job job_with(JobFunction fn, int32_t worker_index) {
  Job job;
  job.fn = fn;
  job.worker_index = worker_index;
  return job;
}

class SlotThreadTest : public ::testing::Test {
 protected:
  static constexpr int32_t kSlot = 21;
  ThreadSlot& slot = thread_slots[kSlot];

  void SetUp() override {
    ran.clear();
    gate_open = gated_job_running = false;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    slot.pipe_read_fd = fds[0];
    slot.pipe_write_fd = fds[1];
    slot.index = kSlot;
    slot.done = 0;
    slot.queue.njobs = 0;
    ASSERT_EQ(pthread_create(&slot.thread, nullptr, worker_thread, &slot), 0);
  }
  void TearDown() override {
    if (!slot.done) send(kTokenEnd);
    pthread_join(slot.thread, nullptr);
    close(slot.pipe_read_fd);
    close(slot.pipe_write_fd);
    slot.queue.njobs = 0;
  }
  void send(int32_t token, int bytes = 4, int from = 0) {
    ASSERT_EQ(write(slot.pipe_write_fd, reinterpret_cast<char*>(&token) + from, bytes), bytes);
  }
};

TEST_F(SlotThreadTest, JobsRunInPostingOrderEachOnItsOwnCopy) {
  post_job(kSlot, job_with(gated_job, 5));
  ASSERT_TRUE(wait_until([] { return gated_job_running.load(); }));
  post_job(kSlot, job_with(record_job, 99));  // reuses the list entry job 5 came from
  usleep(20000);
  EXPECT_EQ(ran_count(), 0u);  // waits for the running job
  gate_open = true;
  ASSERT_TRUE(wait_until([] { return ran_count() == 2; }));
  EXPECT_EQ(ran, (std::vector<int32_t>{5, 99}));
}

TEST_F(SlotThreadTest, EndTokenEndsThreadAfterEarlierJobsOnly) {
  for (int32_t i = 1; i <= 3; ++i) post_job(kSlot, job_with(record_job, i));
  send(kTokenEnd);
  post_job(kSlot, job_with(record_job, 4));  // behind the end token: never run
  ASSERT_TRUE(wait_until([this] { return slot.done.load() == 1; }));
  EXPECT_EQ(ran, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(slot.queue.njobs.load(), 1);
}

TEST_F(SlotThreadTest, TokenWithoutJobWarnsAndTheNextTokenWorks) {
  testing::internal::CaptureStderr();
  send(kTokenJob);
  int unread = 1;
  ASSERT_TRUE(wait_until([&] { return ioctl(slot.pipe_read_fd, FIONREAD, &unread) == 0 && !unread; }));
  usleep(10000);
  // The next job's token arrives in two pieces and still runs it once.
  pthread_mutex_lock(&slot.queue.jobs_lock);
  slot.queue.jobs[0] = job_with(record_job, 7);
  slot.queue.njobs = 1;
  pthread_mutex_unlock(&slot.queue.jobs_lock);
  send(kTokenJob, 2);
  usleep(20000);
  send(kTokenJob, 2, 2);
  ASSERT_TRUE(wait_until([] { return ran_count() == 1; }));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), " (21) Empty jobque\n");
}

TEST(SetBlocking, TogglesNonBlockingModeAndRejectsBadDescriptors) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_TRUE(set_blocking(fds[0], false));
  EXPECT_NE(fcntl(fds[0], F_GETFL) & O_NONBLOCK, 0);
  EXPECT_TRUE(set_blocking(fds[0], true));
  EXPECT_EQ(fcntl(fds[0], F_GETFL) & O_NONBLOCK, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_FALSE(set_blocking(fds[0], true));
  EXPECT_FALSE(set_blocking(-1, true));
}

}  // namespace
