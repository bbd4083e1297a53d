// The ring of input blocks between the driver (producer) and a slot's line
// splitter (consumer). The indices change only under the one-byte spin lock;
// the consumer's emptiness tests read them without it, so tail is published
// with a release store after the block has been filled.
#include "input/block_ring.h"

#include <unistd.h>

#include <cstdio>

Buffer_class::Buffer_class() {
  pthread_mutex_init(&mutex, nullptr);  // kept for layout; the ring never locks it
}

// Held only for a few integer updates, so a tight compare-and-swap loop.
void Buffer_class::lock() {
  uint8_t expected = 0;
  while (!spin.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
    expected = 0;
  }
}

void Buffer_class::unlock() {
  uint8_t expected = 1;
  spin.compare_exchange_strong(expected, 0, std::memory_order_release, std::memory_order_relaxed);
}

int32_t Buffer_class::reserve() {
  lock();
  // Two entries stay free, so the block being filled is never the one being split.
  while (count.load(std::memory_order_acquire) >= capacity - 2) {
    unlock();
    usleep(1);
    lock();
  }
  int32_t w = tail.load(std::memory_order_acquire);
  unlock();
  return w;
}

void Buffer_class::commit() {
  lock();
  count.fetch_add(1, std::memory_order_acq_rel);
  tail.store((tail.load(std::memory_order_relaxed) + 1) % capacity, std::memory_order_release);
  unlock();
}

bool Buffer_class::getdata(uint8_t** data, int32_t* length) {
  int32_t h = head.load(std::memory_order_acquire);
  if (h == tail.load(std::memory_order_acquire)) {
    fputs("warning: getdata Buffer_class: buffer empty\n", stderr);
    error_flag = 1;
    return false;
  }
  *data = entries[h].data;
  *length = entries[h].length;
  return true;
}

void Buffer_class::dequeue() {
  if (head.load(std::memory_order_acquire) == tail.load(std::memory_order_acquire)) {
    fputs("warning: dequeue Buffer_class: Buffer empty\n", stderr);
    return;  // nothing to release: moving head past tail would corrupt the ring
  }
  lock();
  count.fetch_sub(1, std::memory_order_acq_rel);
  head.store((head.load(std::memory_order_relaxed) + 1) % capacity, std::memory_order_release);
  unlock();
}
