// The VCF reader: a single job on slot 1 that parses and filters the lines
// of the line queue up to its end marker and fills the genotype store.
#pragma once
#include <cstdint>

struct ThreadSlot;
struct Job;

void vcf_reader_job(ThreadSlot* slot, Job* job);
void mark_selected_samples();

// The job's three stages, callable on their own so that lines can be fed
// without the queue. start_vcf_reading sets the reader's state up for a new
// input (no variant kept, no column-header line seen, a fresh allele_freqs).
void start_vcf_reading();
// Parses one line of length bytes in place. A line that does not end in a
// newline (every queued line does) needs one byte more in its buffer, for its
// last token's NUL. Ends the process on a format error. Data lines whose
// sample columns are all three-character calls ("0/1", "1|1", "./.") take a
// faster reading with the same results.
void process_vcf_line(char* line, int32_t length);
// Closes the last chromosome, prints the per-chromosome summary and sets
// GenotypeMatrix::nvars to the number of retained variants.
void finish_vcf_input();
