// The line queue (one producer, slot 0's splitter; one consumer, slot 1's
// reader) and the splitter that cuts slot 0's blocks into whole lines.
// Entries are stored before `write` is published with a release store, and
// the reader's acquire load of `write` makes the stored entry visible whole.
#include "input/line_queue.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "input/genotype_store.h"
#include "input/thread_slots.h"

AtomicCircularQueue::AtomicCircularQueue() { pthread_mutex_init(&mutex, nullptr); }

void AtomicCircularQueue::enqueue(char* line, int32_t length, int32_t sequence) {
  // Two entries stay free, so read == write always means empty.
  while (count.load(std::memory_order_acquire) > kLineQueueMaxFill - 1) sched_yield();
  pthread_mutex_lock(&mutex);
  while (count.load(std::memory_order_acquire) > kLineQueueMaxFill - 1) {
    pthread_mutex_unlock(&mutex);
    usleep(200);
    pthread_mutex_lock(&mutex);
  }
  int32_t w = write.load(std::memory_order_relaxed);
  entries[w] = LineEntry{line, length, sequence};
  count.fetch_add(1, std::memory_order_acq_rel);
  write.store((w + 1) % kLineQueueSize, std::memory_order_release);
  pthread_mutex_unlock(&mutex);
}

LineEntry AtomicCircularQueue::getdata() {
  int32_t r = read.load(std::memory_order_acquire);
  while (r == write.load(std::memory_order_acquire)) usleep(100);
  return entries[r];
}

void AtomicCircularQueue::dequeue() {
  if (read.load(std::memory_order_acquire) == write.load(std::memory_order_acquire)) {
    fputs("AtomicCircularQueue Buffer empty\n", stderr);
    return;  // nothing to release: moving read past write would corrupt the queue
  }
  pthread_mutex_lock(&mutex);
  read.store((read.load(std::memory_order_relaxed) + 1) % kLineQueueSize,
             std::memory_order_release);
  count.fetch_sub(1, std::memory_order_acq_rel);
  pthread_mutex_unlock(&mutex);
}

namespace PartialLine {
char* buffer = nullptr;
int32_t fill = 0;
int64_t capacity = 0;

void allocate() {
  buffer = static_cast<char*>(malloc(kLineBufferSize));
  if (buffer == nullptr) fail_allocation(kLineBufferSize);
  fill = 0;
  capacity = kLineBufferSize;
}
}  // namespace PartialLine

// Makes room for a line of `needed` bytes. Lengths travel as int32, which
// bounds a line; the buffer doubles so a long line costs few copies.
static void grow_partial_line(int64_t needed) {
  if (needed > INT32_MAX) {
    printf("Error: an input line is longer than %d bytes\n", INT32_MAX);
    exit(1);
  }
  int64_t grown = std::min<int64_t>(std::max(PartialLine::capacity * 2, needed), INT32_MAX);
  char* bigger = static_cast<char*>(realloc(PartialLine::buffer, grown));
  if (bigger == nullptr) fail_allocation(grown);
  PartialLine::buffer = bigger;
  PartialLine::capacity = grown;
}

static void append_to_partial_line(const uint8_t* bytes, int32_t n) {
  int64_t needed = static_cast<int64_t>(PartialLine::fill) + n;
  if (needed > PartialLine::capacity) grow_partial_line(needed);
  memcpy(PartialLine::buffer + PartialLine::fill, bytes, n);
  PartialLine::fill = static_cast<int32_t>(needed);
}

// Hands the assembled line to the reader and starts a fresh buffer.
static void push_partial_line(int32_t sequence) {
  line_queue.enqueue(PartialLine::buffer, PartialLine::fill, sequence);
  PartialLine::allocate();
}

int32_t find_newline(const uint8_t* p, int32_t n) {
  if (n <= 0) return -1;
  const void* hit = memchr(p, '\n', static_cast<size_t>(n));
  return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - p) : -1;
}

void split_lines_job(ThreadSlot* slot, Job*) {
  Buffer_class& ring = slot->ring;
  uint8_t* p = nullptr;
  int32_t n = 0;
  if (!ring.getdata(&p, &n) || ring.error_flag) {
    slot->done.store(1, std::memory_order_release);
    return;
  }
  if (n < 0) {  // end of the input
    ring.dequeue();
    // A last line without a newline still carries a variant: pass it on as
    // an ordinary line, so the reader needs no special case.
    if (PartialLine::fill > 0) {
      const uint8_t newline = '\n';
      append_to_partial_line(&newline, 1);
      push_partial_line(1);
    }
    line_queue.enqueue(nullptr, 0, -1);
    return;
  }
  for (int32_t sequence = 1;; ++sequence) {
    int32_t i = find_newline(p, n);
    if (i < 0) {
      append_to_partial_line(p, n);
      ring.dequeue();  // all of the block is copied; the producer may reuse it
      return;
    }
    append_to_partial_line(p, i + 1);
    push_partial_line(sequence);
    p += i + 1;
    n -= i + 1;
  }
}
