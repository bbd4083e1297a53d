// A slot's ring of input blocks (every started slot has one; only slot 0's
// is used): one producer (the driver, on the main thread) and one consumer
// (the slot's line splitter). A one-byte compare-and-swap spin lock guards
// the indices and the count.
#pragma once
#include <pthread.h>
#include <atomic>
#include <cstdint>

struct BlockEntry {
  int32_t sequence = 0;     // running block number (first block 11); -1 in the end entry
  uint8_t* data = nullptr;  // block memory, buffer_size bytes, set once by the driver
  int32_t length = 0;       // bytes in the block (>= 1); -1 marks the end entry
};

class Buffer_class {
 public:
  static constexpr int32_t kMaxEntries = 256;

  Buffer_class();

  // Producer side, in three steps: reserve() waits while capacity - 2 blocks
  // are full and returns the tail index; the caller fills entries[index]
  // outside the lock; commit() makes it visible to the consumer.
  int32_t reserve();
  void commit();

  // Consumer side. getdata gives the head block; on an empty ring it warns,
  // sets error_flag and returns false. dequeue releases the head block.
  bool getdata(uint8_t** data, int32_t* length);
  void dequeue();

  int32_t capacity = 32;
  int32_t error_flag = 0;  // set when getdata finds the ring empty; never cleared
  BlockEntry entries[kMaxEntries];
  pthread_mutex_t mutex;   // initialised, never locked
  std::atomic<uint8_t> spin{0};
  std::atomic<int32_t> head{0};   // oldest full block
  std::atomic<int32_t> tail{0};   // next block for the producer
  std::atomic<int32_t> count{0};  // full blocks

 private:
  void lock();
  void unlock();
};
