// The fixed table of 32 worker thread slots; the driver starts a thread on
// the first --cpu + 2 (0 splits lines, 1 reads the VCF, the rest scan pairs).
// Each slot's thread sleeps on its pipe; a token 1 runs the oldest job of its
// list, a token -1 ends the thread.
#pragma once
#include <pthread.h>
#include <atomic>
#include <cstdint>

#include "input/block_ring.h"

struct ThreadSlot;
struct Job;
using JobFunction = void (*)(ThreadSlot* slot, Job* job);

struct Job {
  int32_t kind = 0;            // 0 in every job
  JobFunction fn = nullptr;    // called with the slot and the worker's copy of the job
  void* reserved_ptr1 = nullptr;
  int32_t reserved_int1 = 0;
  int32_t reserved_int2 = 0;
  int32_t worker_index = 0;    // pair worker number, 0 .. worker_count - 1
  int32_t worker_count = 0;    // number of pair workers
  void* reserved_ptr2 = nullptr;
};

constexpr int32_t kMaxJobs = 101;
constexpr int32_t kThreadSlotCount = 32;
constexpr int32_t kTokenJob = 1;   // pipe token: a job was posted
constexpr int32_t kTokenEnd = -1;  // pipe token: end the thread

struct jobque {
  jobque();  // initialises jobs_lock; "Mutex init failed\n" and exit 1 on failure
  Job jobs[kMaxJobs];
  std::atomic<int32_t> njobs{0};  // read without the lock by the worker's first test
  pthread_mutex_t jobs_lock;
};

struct ThreadSlot {
  ThreadSlot();

  pthread_t thread{};
  int32_t index = 0;
  std::atomic<int32_t> done{0};  // set by the slot's own thread, polled by the driver
  int32_t pipe_read_fd = 0;
  int32_t pipe_write_fd = 0;
  jobque queue;
  Buffer_class ring;
  int32_t started = 0;  // set to 0 by the driver when it starts the thread; unread
};

extern ThreadSlot thread_slots[kThreadSlotCount];

// Start routine of every slot's thread; the argument is its ThreadSlot.
void* worker_thread(void* slot);
// Appends a copy of the job to the slot's list under its mutex, then writes
// the token 1 to the slot's pipe.
void post_job(int32_t slot_index, const Job& job);
void run_job(ThreadSlot* slot, Job* job);
// Clears (blocking true) or sets O_NONBLOCK on fd; true on success.
bool set_blocking(int fd, bool blocking);
