// The pair worker job and the tables it sets up.
#pragma once
#include <semaphore.h>
#include <atomic>
#include <cstdint>

struct ThreadSlot;
struct Job;

// Per pair index: present count (bits 0-3), IBS >= 1 count (bits 4-7), IBS2 count (bits 8-11).
extern uint32_t pair_ibs_table[256];
extern std::atomic<int32_t> pairs_done;
extern sem_t pair_done_sem;  // posted once by every pair job after its last append

void pair_job(ThreadSlot* slot, Job* job);
void build_pair_ibs_table(uint32_t* table);
// Index of the first of the count strings equal to name, or -1.
int32_t find_string_index(const char* name, char** strings, int32_t count);
