// Process-wide run settings, defaults in static data. Written by
// apply_options before any worker thread exists and read without locks
// afterwards; only people_count is written later, by the VCF reader.
#pragma once
#include <cstdint>

class options;
struct IdTable;

namespace RunSettings {
constexpr int kTextSize = 256;  // text settings hold at most 255 characters

extern char input_path[kTextSize];     // input VCF file; "(nofile)"
extern char output_prefix[kTextSize];  // prefix of every output file; "palvane"
extern int32_t buffer_size;            // bytes per input block; 65536
extern int32_t thread_count;           // slots started: --cpu + 2; 6
extern int32_t people_count;           // sample count, set by each data line; never read; 102
extern double ibd1_threshold;          // fraction (mode 0) or markers (mode 1); 0.002
extern double ibd2_threshold;          // same units; 0.001
extern int32_t threshold_mode;         // 0 fractions, 1 markers, 2 estimated; 2
extern double threshold_scale;         // factor on estimates, -1 = none; 1.0
extern double report_threshold;        // lowest IBD1+IBD2 with a row; -999
extern double min_maf;                 // -1 = no announced filter; 0.06
extern double max_maf;                 // 32768
extern int32_t min_distance;           // bp from previous kept variant; 0 = off
extern int32_t thin_level;             // keep when lrand48() % 1024 <= it; <= 0 = off
extern float max_missing_rate;         // 0.02f
extern int32_t variant_capacity;       // initial genotype matrix rows; 200000
extern int32_t report_segments;        // 1 = write .segments lines
extern int32_t scan_mode;              // 2 tolerant, 1 merging, else strict
extern int32_t pair_mode;              // 1 = only the --pair pair
extern char pair_name1[kTextSize];
extern char pair_name2[kTextSize];
extern int32_t subset_flag;            // 1 = a --subset list was given
extern IdTable* subset_table;          // the --subset list, never freed
}  // namespace RunSettings

// Looks every option up in a fixed order and writes the RunSettings (reads
// the --subset file when present). Ends the process on a refused value.
void apply_options(options& opts);
