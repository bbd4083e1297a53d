// The pair worker job, the split of the pairs among the workers, and the
// pair IBS table that palvane_main builds before the analysis.
#pragma once
#include <semaphore.h>

#include <atomic>
#include <cstdint>

struct ThreadSlot;
struct Job;

// Per pair index: present count (bits 0-3), IBS >= 1 count (bits 4-7), IBS2 count (bits 8-11).
extern uint32_t pair_ibs_table[256];
// Pairs scanned by all workers; 64 bits, as N(N-1)/2 passes the int32 range
// from 65537 samples on.
extern std::atomic<int64_t> pairs_done;
extern sem_t pair_done_sem;  // posted once by every pair job after its last append

void pair_job(ThreadSlot* slot, Job* job);
void build_pair_ibs_table(uint32_t* table);
// Index of the first of the count strings equal to name, or -1.
int32_t find_string_index(const char* name, char** strings, int32_t count);

// One worker's share of all pairs of samples. The pairs (i, j), i < j, are
// numbered 0, 1, 2, ... in the order (0,1), (0,2), (1,2), (0,3), (1,3), ...;
// worker w of W owns the pairs whose number mod W is w, and walks them in
// that order. No pairs when W < 1, w is outside 0 .. W-1 or samples < 2.
class WorkerPairs {
 public:
  WorkerPairs(int32_t samples, int32_t worker_index, int32_t worker_count);
  // Writes up to max of the next pairs to first[] and second[] (first < second);
  // returns how many, 0 once every pair has been handed out.
  int32_t next(int32_t* first, int32_t* second, int32_t max);

 private:
  int32_t samples_;
  int32_t step_;
  int64_t i_ = 0;  // the next pair (i_, j_), i_ < j_
  int32_t j_ = 1;
  void advance(int32_t by);
};

constexpr int32_t kProgressPairs = 2000;  // own pairs between two progress lines
