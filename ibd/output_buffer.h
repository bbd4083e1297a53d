// The two report buffers (.ibd and .segments), the per-worker row buffer and
// the segment line writer.
#pragma once
#include <pthread.h>
#include <atomic>
#include <cstdint>

struct PairScanContext;

// A POSIX mutex with default attributes; "Mutex init failed\n" and exit 1
// when it cannot be created. Never destroyed.
class Mutex {
 public:
  Mutex();
  pthread_mutex_t mutex;
};

constexpr int32_t kOutputBufferSize = 524288;
constexpr int32_t kOutputFlushAt = 34816;  // an append that passes this writes the buffer

class OutputBuffer {
 public:
  // Copies text behind the held text under the lock; when the length passes
  // kOutputFlushAt, writes everything to fd (still under the lock).
  void append(const char* text);
  // Writes what is held without the lock (also when empty) and empties the buffer.
  void flush();

  char data[kOutputBufferSize];
  int32_t length = 0;
  Mutex lock;
  int32_t fd = -1;
};

extern OutputBuffer ibd_output;
extern OutputBuffer segments_output;

// Writes all n bytes (retrying short writes and EINTR); on failure prints
// perror("write"), sets final_exit_status to 1 (the run goes on, but a
// pipeline must see that a report is incomplete) and returns false.
bool write_fully(int fd, const char* data, int64_t n);

constexpr int32_t kRowBufferSize = 18432;
constexpr int32_t kRowDrainAt = 16384;

class RowBuffer {
 public:
  // Formats one row behind the held rows; drains when the length passes kRowDrainAt.
  void add_row(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends the held rows to target (nothing when empty) and empties the buffer.
  void drain();

  char data[kRowBufferSize];
  int32_t length = 0;
  OutputBuffer* target = &ibd_output;
};

// Formats one .segments line (type 1 or 2, samples a and b, first and last
// variant index) into the context's segment buffer, bound for segments_output.
void write_segment(PairScanContext* context, int32_t type, int32_t a, int32_t b, int32_t start,
                   int32_t end);
