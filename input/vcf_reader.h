// The VCF reader: a single job on slot 1 that parses and filters the lines
// of the line queue up to its end marker and fills the genotype store.
#pragma once

struct ThreadSlot;
struct Job;

void vcf_reader_job(ThreadSlot* slot, Job* job);
void mark_selected_samples();
