#include "ibd/pair_worker.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ibd/analysis_driver.h"
#include "ibd/output_buffer.h"
#include "ibd/pair_scan.h"
#include "input/genotype_store.h"
#include "input/thread_slots.h"
#include "setup/run_settings.h"

uint32_t pair_ibs_table[256];
std::atomic<int64_t> pairs_done{0};
sem_t pair_done_sem;

namespace {

constexpr char kStartLine[] = " -  Compute IBD by IBS: (cpu=%d/%d) Nind = %d Nvar = %d\n";
constexpr char kRunningPair[] = "Running pair %d %d\n";
constexpr char kProgressLine[] = " - %5.1f%% completed - Pairs/sec = %.2f\n";
constexpr char kMissingPairSample[] =
    "Error: --pair sample \"%s\" is not among the %d sample names of the input; no pair "
    "scanned\n";

void unpack_pair_ibs_table(PairScanContext* context) {
  for (int32_t i = 0; i < 255; ++i) {
    const uint32_t entry = pair_ibs_table[i];
    context->present_count[i] = static_cast<int32_t>(entry & 15);
    context->ibs1_count[i] = static_cast<int32_t>((entry >> 4) & 15);
    context->ibs2_count[i] = static_cast<int32_t>((entry >> 8) & 15);
  }
}

// The single pair named by --pair. A name missing from the samples is an
// error of the run: nothing is scanned and the run ends with status 1.
void scan_named_pair(PairScanContext* context, int32_t samples, int32_t nvars) {
  int32_t a = find_string_index(RunSettings::pair_name1, SampleNames::names, samples);
  int32_t b = find_string_index(RunSettings::pair_name2, SampleNames::names, samples);
  printf(kRunningPair, a, b);
  if (a >= 0 && b >= 0) {
    scan_pairs(context, nvars, &a, &b, 1);
    return;
  }
  if (a < 0) fprintf(stderr, kMissingPairSample, RunSettings::pair_name1, samples);
  if (b < 0 && (a >= 0 || strcmp(RunSettings::pair_name1, RunSettings::pair_name2) != 0))
    fprintf(stderr, kMissingPairSample, RunSettings::pair_name2, samples);
  final_exit_status.store(1, std::memory_order_release);
}

// The worker's share of all pairs, in batches for the scan, with a progress
// line after every 2000 own pairs (the rate is this worker's own).
void scan_worker_pairs(PairScanContext* context, int32_t samples, int32_t nvars,
                       int32_t worker_index, int32_t worker_count) {
  const double total = static_cast<double>(samples) * (samples - 1) / 2.0;
  const double per_pair = total > 0 ? 1.0 / total : 0.0;
  timeval start;
  gettimeofday(&start, nullptr);
  int32_t own = 0;

  WorkerPairs deal(samples, worker_index, worker_count);
  int32_t first[kPairBatch];
  int32_t second[kPairBatch];
  // A batch never runs past the next progress line, so the line follows its
  // 2000th pair at once and the rate covers exactly those pairs.
  while (const int32_t count =
             deal.next(first, second, std::min(kPairBatch, kProgressPairs - own))) {
    scan_pairs(context, nvars, first, second, count);
    own += count;
    pairs_done.fetch_add(count, std::memory_order_acq_rel);
    if (own < kProgressPairs) continue;
    const double elapsed = elapsed_ms(start);
    const double done = pairs_done.load(std::memory_order_acquire);
    printf(kProgressLine, (done + 1e-9) * 100.0 * per_pair, kProgressPairs / elapsed * 1000.0);
    gettimeofday(&start, nullptr);
    own = 0;
  }
}

}  // namespace

WorkerPairs::WorkerPairs(int32_t samples, int32_t worker_index, int32_t worker_count)
    : samples_(samples), step_(worker_count) {
  if (worker_count < 1 || worker_index < 0 || worker_index >= worker_count) {
    j_ = samples_;  // nothing to hand out
    return;
  }
  advance(worker_index);
}

// Moves `by` pair numbers on: column j holds the j pairs (0..j-1, j).
void WorkerPairs::advance(int32_t by) {
  i_ += by;
  while (i_ >= j_ && j_ < samples_) {
    i_ -= j_;
    ++j_;
  }
}

int32_t WorkerPairs::next(int32_t* first, int32_t* second, int32_t max) {
  int32_t n = 0;
  while (n < max && j_ < samples_) {
    first[n] = static_cast<int32_t>(i_);
    second[n] = j_;
    ++n;
    advance(step_);
  }
  return n;
}

void pair_job(ThreadSlot* slot, Job* job) {
  const int32_t worker_index = job->worker_index;
  const int32_t worker_count = job->worker_count;
  const int32_t samples = SampleNames::count;
  const int32_t nvars = GenotypeMatrix::nvars;
  printf(kStartLine, worker_index + 1, worker_count, samples, nvars);

  // Rows and segment lines gather in the worker's own buffers, so the report
  // locks are taken once per buffer load rather than once per line.
  RowBuffer rows;
  rows.target = &ibd_output;
  RowBuffer segments;
  segments.target = &segments_output;
  PairScanContext context{};
  context.row_buffer = &rows;
  context.segment_buffer = &segments;
  unpack_pair_ibs_table(&context);

  if (RunSettings::pair_mode == 1)
    scan_named_pair(&context, samples, nvars);
  else
    scan_worker_pairs(&context, samples, nvars, worker_index, worker_count);

  // Rows and lines reach the reports before the post, so the driver's last
  // wait sees them all.
  rows.drain();
  segments.drain();
  sem_post(&pair_done_sem);
  slot->done.store(1, std::memory_order_release);
}

void build_pair_ibs_table(uint32_t* table) {
  for (uint32_t index = 0; index < 256; ++index) {
    // Sample a's codes in bits 7-6 and 5-4, sample b's in bits 3-2 and 1-0.
    const uint32_t codes_a[2] = {(index >> 6) & 3, (index >> 4) & 3};
    const uint32_t codes_b[2] = {(index >> 2) & 3, index & 3};
    uint32_t present = 0, ibs1 = 0, ibs2 = 0;
    for (int v = 0; v < 2; ++v) {
      const uint32_t x = codes_a[v], y = codes_b[v];
      if (x == 3 || y == 3) continue;
      ++present;
      if ((x > y ? x - y : y - x) <= 1) ++ibs1;
      if (x == y) ++ibs2;
    }
    table[index] = present + ibs1 * 16 + ibs2 * 256;
  }
}

int32_t find_string_index(const char* name, char** strings, int32_t count) {
  for (int32_t i = 0; i < count; ++i)
    if (strcmp(name, strings[i]) == 0) return i;
  return -1;
}
