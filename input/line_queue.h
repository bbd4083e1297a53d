// The line queue between the line splitter (slot 0) and the VCF reader
// (slot 1), and the splitter itself, which cuts the blocks of slot 0's ring
// into whole lines.
#pragma once
#include <pthread.h>
#include <atomic>
#include <cstdint>

struct ThreadSlot;
struct Job;

constexpr int32_t kLineBufferSize = 3000000;  // initial bytes of a line buffer
constexpr int32_t kLineQueueSize = 512;
constexpr int32_t kLineQueueMaxFill = 510;

struct LineEntry {
  char* line = nullptr;  // malloc buffer holding the line and its newline; freed by the reader
  int32_t length = 0;    // bytes of the line, newline included; 0 in the end marker
  int32_t sequence = 0;  // number of the line within its block, from 1; -1 ends the input
};

class AtomicCircularQueue {
 public:
  AtomicCircularQueue();

  void enqueue(char* line, int32_t length, int32_t sequence);  // splitter only
  LineEntry getdata();  // reader only: waits for an entry, leaves it queued
  void dequeue();       // reader only: releases the entry at read

  LineEntry entries[kLineQueueSize];
  pthread_mutex_t mutex;
  std::atomic<int32_t> read{0};
  std::atomic<int32_t> write{0};
  std::atomic<int32_t> count{0};
};

extern AtomicCircularQueue line_queue;

// The line the splitter assembles across blocks.
namespace PartialLine {
extern char* buffer;        // kLineBufferSize bytes, or more for a longer line
extern int32_t fill;        // bytes of the current line already in buffer
extern int64_t capacity;    // bytes allocated for buffer
// Allocates a fresh buffer (fill 0); "Error allocating %d MB of memory\n" and exit 1 on failure.
void allocate();
}  // namespace PartialLine

// Index of the first newline among the n bytes at p, or -1.
int32_t find_newline(const uint8_t* p, int32_t n);
// Job of slot 0: splits the head block of the slot's ring into lines.
void split_lines_job(ThreadSlot* slot, Job* job);
