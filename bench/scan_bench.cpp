// Speed of the pair scans on rows of 500,000 variants, in variants per second
// on one core (items = pairs x variants): the plain kernels of the three
// modes and every tolerant batch kernel the processor offers, for unrelated
// pairs and for sibling-like pairs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ibd/pair_scan_kernels.h"
#include "tests/packed_rows.h"

namespace {

constexpr int32_t kVariants = 500000;
constexpr int kRowsA = kMaxBatchPairs;  // distinct first samples, so rows come from memory

struct Genotypes {
  std::vector<double> freq;
  std::mt19937 rng{12345};
  std::uniform_real_distribution<double> unit{0, 1};

  Genotypes() {
    freq.resize(kVariants);
    for (double& f : freq) f = 0.05 + 0.45 * unit(rng);
  }
  int allele(int32_t v) { return unit(rng) < freq[v]; }
  std::vector<int> person() {
    std::vector<int> codes(kVariants);
    for (int32_t v = 0; v < kVariants; ++v) codes[v] = allele(v) + allele(v);
    return codes;
  }
  // A sibling of `other`: stretches of 2,000 to 20,000 variants sharing two
  // alleles (a quarter), one allele (a half) or none.
  std::vector<int> sibling(const std::vector<int>& other) {
    std::vector<int> codes(kVariants);
    int32_t v = 0;
    while (v < kVariants) {
      const int32_t end = std::min(kVariants, v + 2000 + static_cast<int32_t>(rng() % 18000));
      const double r = unit(rng);
      const int shared = r < 0.25 ? 2 : (r < 0.75 ? 1 : 0);
      for (; v < end; ++v) {
        if (shared == 2) {
          codes[v] = other[v];
        } else if (shared == 1) {
          // One allele of the other's genotype, one drawn anew.
          const int kept = other[v] == 2 ? 1 : (other[v] == 0 ? 0 : static_cast<int>(rng() % 2));
          codes[v] = kept + allele(v);
        } else {
          codes[v] = allele(v) + allele(v);
        }
      }
    }
    return codes;
  }
};

// kRowsA first samples and one second sample, unrelated to it or its siblings.
struct PairRows {
  std::vector<std::vector<uint8_t>> a;
  std::vector<uint8_t> b;
  std::vector<int32_t> cumulative;

  explicit PairRows(bool siblings) {
    Genotypes g;
    const std::vector<int> second = g.person();
    b = pack_codes(second);
    for (int i = 0; i < kRowsA; ++i)
      a.push_back(pack_codes(siblings ? g.sibling(second) : g.person()));
    // 22 chromosomes of uneven sizes; all but the last end on an odd variant
    // count, inside a byte.
    cumulative.push_back(0);
    for (int k = 1; k <= 22; ++k)
      cumulative.push_back(static_cast<int32_t>(int64_t{kVariants} * k * (45 - k) / (22 * 23)) | 1);
    cumulative.back() = kVariants;
  }
  ScanLayout layout() const {
    return {cumulative.data(), static_cast<int32_t>(cumulative.size()), kVariants, 1000, 400};
  }
};

const PairRows& rows_for(bool siblings) {
  static const PairRows unrelated(false);
  static const PairRows sibling(true);
  return siblings ? sibling : unrelated;
}

enum class Mode { tolerant, merging, strict };

void plain_scan(benchmark::State& state, Mode mode, bool siblings) {
  const PairRows& rows = rows_for(siblings);
  const ScanLayout layout = rows.layout();
  SegmentList segments;
  int i = 0;
  for (auto _ : state) {
    const uint8_t* a = rows.a[i++ % kRowsA].data();
    segments.clear();
    PairScanTotals t;
    if (mode == Mode::tolerant) t = scan_tolerant_ref(a, rows.b.data(), layout, &segments);
    if (mode == Mode::merging) t = scan_merging_ref(a, rows.b.data(), layout, &segments);
    if (mode == Mode::strict) t = scan_strict_ref(a, rows.b.data(), layout);
    benchmark::DoNotOptimize(t);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{kVariants});
}

void batch_scan(benchmark::State& state, ScanKernel kernel, bool siblings) {
  if (!scan_kernel_supported(kernel)) {
    state.SkipWithError("this processor does not offer the kernel");
    return;
  }
  const TolerantBatchScan scan = tolerant_batch_kernel(kernel);
  const PairRows& rows = rows_for(siblings);
  const ScanLayout layout = rows.layout();
  const uint8_t* rows_a[kMaxBatchPairs];
  const uint8_t* rows_b[kMaxBatchPairs];
  for (int i = 0; i < kMaxBatchPairs; ++i) {
    rows_a[i] = rows.a[i].data();
    rows_b[i] = rows.b.data();
  }
  PairScanTotals totals[kMaxBatchPairs];
  std::vector<SegmentList> segments(kMaxBatchPairs);
  for (auto _ : state) {
    for (SegmentList& s : segments) s.clear();
    scan(rows_a, rows_b, kMaxBatchPairs, layout, totals, segments.data());
    benchmark::DoNotOptimize(totals);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{kMaxBatchPairs} * kVariants);
}

void register_all() {
  for (const bool siblings : {false, true}) {
    const std::string kind = siblings ? "sibling" : "unrelated";
    benchmark::RegisterBenchmark(("tolerant/reference/" + kind).c_str(), plain_scan, Mode::tolerant,
                                 siblings);
    for (const ScanKernel k : {ScanKernel::reference, ScanKernel::avx2, ScanKernel::avx512})
      benchmark::RegisterBenchmark(
          ("tolerant_batch/" + std::string(scan_kernel_name(k)) + "/" + kind).c_str(), batch_scan,
          k, siblings);
    benchmark::RegisterBenchmark(("merging/reference/" + kind).c_str(), plain_scan, Mode::merging,
                                 siblings);
    benchmark::RegisterBenchmark(("strict/reference/" + kind).c_str(), plain_scan, Mode::strict,
                                 siblings);
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
