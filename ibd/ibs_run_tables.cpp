// The two run tables of the pair scans, stored as data. Entry 16 * A + B
// counts the leading variants (first, then second) of bytes A and B on which
// the samples match; a missing code (3) matches anything.
#include <cstdint>

#include "ibd/pair_scan.h"

// A match: equal codes.
const int16_t ibs2_run_table[256] = {
    2, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 1, 2,  // sample a byte 0
    1, 2, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 1, 2,  // sample a byte 1
    1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2,  // sample a byte 2
    2, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2,  // sample a byte 3
    0, 0, 0, 0, 2, 1, 1, 2, 0, 0, 0, 0, 2, 1, 1, 2,  // sample a byte 4
    0, 0, 0, 0, 1, 2, 1, 2, 0, 0, 0, 0, 1, 2, 1, 2,  // sample a byte 5
    0, 0, 0, 0, 1, 1, 2, 2, 0, 0, 0, 0, 1, 1, 2, 2,  // sample a byte 6
    0, 0, 0, 0, 2, 2, 2, 2, 0, 0, 0, 0, 2, 2, 2, 2,  // sample a byte 7
    0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 1, 2, 2, 1, 1, 2,  // sample a byte 8
    0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 1, 2, 1, 2, 1, 2,  // sample a byte 9
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2, 1, 1, 2, 2,  // sample a byte 10
    0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 11
    2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2,  // sample a byte 12
    1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2,  // sample a byte 13
    1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2,  // sample a byte 14
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 15
};
// A match: codes at most one apart.
const int16_t ibs1_run_table[256] = {
    2, 2, 1, 2, 2, 2, 1, 2, 0, 0, 0, 0, 2, 2, 1, 2,  // sample a byte 0
    2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 2, 2, 2, 2,  // sample a byte 1
    1, 2, 2, 2, 1, 2, 2, 2, 0, 0, 0, 0, 1, 2, 2, 2,  // sample a byte 2
    2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 2, 2, 2, 2,  // sample a byte 3
    2, 2, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2,  // sample a byte 4
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 5
    1, 2, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2,  // sample a byte 6
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 7
    0, 0, 0, 0, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2,  // sample a byte 8
    0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 9
    0, 0, 0, 0, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2,  // sample a byte 10
    0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 11
    2, 2, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2,  // sample a byte 12
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 13
    1, 2, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2, 1, 2, 2, 2,  // sample a byte 14
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // sample a byte 15
};
