// Genotype sums of the common layout of a data line's sample columns: every
// column exactly three characters "a/b" or "a|b", each followed by one tab,
// the last by the newline. For such a line, a sample's sum is
// genotype_code_table[a] + genotype_code_table[b], as the general reading of
// the columns gives it.
#pragma once
#include <cstdint>

// Checks that the 4 x samples bytes at calls have that layout and, when they
// do, writes each sample's sum to sums[] and returns true. When they do not,
// returns false; sums[] may then hold anything. samples must be positive.
bool fixed_width_sums(const char* calls, int32_t samples, uint8_t* sums);
// The byte-by-byte reference of fixed_width_sums: the same answer and sums.
bool fixed_width_sums_plain(const char* calls, int32_t samples, uint8_t* sums);
