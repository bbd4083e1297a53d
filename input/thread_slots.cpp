// Worker threads: each slot's thread sleeps on its pipe and runs the jobs of
// its list one at a time, oldest first.
#include "input/thread_slots.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

// The job list is built before the slot's block ring, its mutex included.
jobque::jobque() {
  if (pthread_mutex_init(&jobs_lock, nullptr) != 0) {
    fputs("Mutex init failed\n", stderr);
    exit(1);
  }
}

ThreadSlot::ThreadSlot() = default;

// pthread calls return their error instead of setting errno; perror needs it there.
static void stop_on_mutex_failure(int rc) {
  if (rc != 0) {
    errno = rc;
    perror("mutex");
    exit(1);
  }
}

static void lock_jobs(ThreadSlot* slot) {
  stop_on_mutex_failure(pthread_mutex_lock(&slot->queue.jobs_lock));
}

static void unlock_jobs(ThreadSlot* slot) {
  stop_on_mutex_failure(pthread_mutex_unlock(&slot->queue.jobs_lock));
}

// Reads one 4-byte token. A read of 0 bytes is repeated, a short read is
// completed by further reads and an interrupted one is retried. Any other
// failure of the slot's own pipe cannot be recovered from: the thread would
// spin or lose jobs, so the process stops.
static int32_t read_token(int fd) {
  int32_t token = 0;
  char* bytes = reinterpret_cast<char*>(&token);
  size_t got = 0;
  while (got < sizeof token) {
    ssize_t n = read(fd, bytes + got, sizeof token - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      perror("read");
      exit(1);
    }
  }
  return token;
}

// Moves the oldest job into `out` and closes the gap in the list.
static void take_oldest_job(ThreadSlot* slot, Job* out) {
  jobque& q = slot->queue;
  lock_jobs(slot);
  int32_t n = q.njobs.load(std::memory_order_acquire);
  *out = q.jobs[0];
  for (int32_t i = 1; i < n; ++i) q.jobs[i - 1] = q.jobs[i];
  q.njobs.store(n - 1, std::memory_order_release);
  unlock_jobs(slot);
}

void* worker_thread(void* arg) {
  ThreadSlot* slot = static_cast<ThreadSlot*>(arg);
  Job job;  // the worker's own copy, stable while the job runs
  for (;;) {
    int32_t token = read_token(slot->pipe_read_fd);
    if (token == kTokenEnd) {
      slot->done.store(1, std::memory_order_release);
      pthread_exit(nullptr);
    }
    // Only this thread removes jobs, so a non-zero count cannot drop to zero
    // before the lock is taken.
    if (slot->queue.njobs.load(std::memory_order_acquire) == 0) {
      fprintf(stderr, " (%d) Empty jobque\n", slot->index);
      continue;
    }
    take_oldest_job(slot, &job);
    job.fn(slot, &job);
  }
}

void post_job(int32_t slot_index, const Job& job) {
  ThreadSlot* slot = &thread_slots[slot_index];
  jobque& q = slot->queue;
  lock_jobs(slot);
  int32_t n = q.njobs.load(std::memory_order_acquire);
  q.jobs[n] = job;
  q.njobs.store(n + 1, std::memory_order_release);
  unlock_jobs(slot);
  // The token follows the unlock, so the worker never wakes before its job is listed.
  int32_t token = kTokenJob;
  if (write(slot->pipe_write_fd, &token, sizeof token) < 0) perror("write");
}

void run_job(ThreadSlot* slot, Job* job) { job->fn(slot, job); }

bool set_blocking(int fd, bool blocking) {
  if (fd < 0) return false;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}
