// Tokenizer speed on a VCF data line of 2000 samples: the chunked split
// against the byte-by-byte reference, and the reading of three-character
// calls (checking and summing the sample columns) in its two kernels. Bytes
// processed are the line's bytes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "input/genotype_calls.h"
#include "input/line_tokens.h"

namespace {

std::string vcf_line(int samples) {
  std::string line = "chr1\t123456\trs1\tA\tG\t.\tPASS\t.\tGT";
  const char* calls[] = {"0|0", "0|1", "1|0", "1|1", "./."};
  uint32_t state = 7;
  for (int s = 0; s < samples; ++s) {
    state = state * 1103515245u + 12345u;
    line += '\t';
    line += calls[(state >> 16) % 5];
  }
  line += '\n';
  return line;
}

template <bool kPlain>
void BM_Split(benchmark::State& state) {
  const std::string original = vcf_line(2000);
  std::string line = original;
  line.push_back('\0');
  auto tokens = std::make_unique<LineTokens>();
  const int32_t n = static_cast<int32_t>(original.size());
  for (auto _ : state) {
    line.replace(0, original.size(), original);  // split writes NULs into the line
    int32_t count = kPlain ? tokens->split_plain(line.data(), n) : tokens->split(line.data(), n);
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

template <bool kPlain>
void BM_FixedWidthSums(benchmark::State& state) {
  const std::string line = vcf_line(2000);
  const size_t calls = line.find("GT\t") + 3;
  std::vector<uint8_t> sums(2000);
  for (auto _ : state) {
    bool ok = kPlain ? fixed_width_sums_plain(line.data() + calls, 2000, sums.data())
                     : fixed_width_sums(line.data() + calls, 2000, sums.data());
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(sums.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(line.size()));
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Split, true)->Name("split_plain");
BENCHMARK_TEMPLATE(BM_Split, false)->Name("split_chunked");
BENCHMARK_TEMPLATE(BM_FixedWidthSums, true)->Name("fixed_width_sums_plain");
BENCHMARK_TEMPLATE(BM_FixedWidthSums, false)->Name("fixed_width_sums");
BENCHMARK_MAIN();
