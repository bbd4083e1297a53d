// The analysis driver: output files, thread start, block reading loop, end of
// input, hand-over to the thresholds, transposition and pair workers, flush.
#pragma once
#include <sys/time.h>

#include <atomic>
#include <cstdint>

struct BGZF;

void run_analysis(const char* input_path);
// Unlinks and creates PREFIX + suffix with mode 0660; exits with status 2 on failure.
int open_output_file(const char* suffix);
// Milliseconds from start to now, borrowing a second when the microseconds go negative.
double elapsed_ms(const timeval& start);

// Reads up to size decompressed bytes into block. Returns the byte count,
// 0 at the end of a sound input, or -1 on a read error. With threaded
// decompression htslib ends a damaged input like a complete one and only
// sets the handle's errcode, so an end with errcode set is an error too.
int64_t read_input_block(BGZF* input, uint8_t* block, int32_t size);

// Exit status of a run that went to its end: 0, or 1 when a report write
// failed or the --pair pair could not be scanned. main returns it.
extern std::atomic<int32_t> final_exit_status;
