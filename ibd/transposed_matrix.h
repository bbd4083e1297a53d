// One row per sample of the packed genotypes, for the pair scans, and the
// header lines of the two report files.
#pragma once
#include <sys/time.h>
#include <cstddef>
#include <cstdint>

namespace GenotypeMatrixTransposed {
extern uint8_t* data;     // npeople * nvars bytes
extern uint8_t** rows;    // rows[i] = data + i * nvars
extern int32_t nvars;     // retained variants
extern int32_t npeople;   // samples + 1
}  // namespace GenotypeMatrixTransposed

// Whole mebibytes (rounded down) of an npeople x nvars block, sized in 64 bits.
int32_t transposed_matrix_megabytes(int32_t npeople, int32_t nvars);

// Builds the transposed matrix and prints the pre-processing duration since `start`.
void build_transposed_matrix(const timeval& start);

// Format the header lines (143 and 113 characters with their newline).
int format_ibd_header(char* line, size_t size);
int format_segments_header(char* line, size_t size);
