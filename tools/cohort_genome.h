// The simulated genome: chromosomes with their lengths and share of the
// variants, the variants of one chromosome drawn one at a time, and the
// crossovers of one meiosis.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cohort_random.h"

namespace cohort {

struct Chromosome {
  std::string name;
  uint64_t length = 0;    // base pairs
  uint64_t variants = 0;  // variants placed on it
};

inline constexpr uint64_t kMinChromosomeLength = 100'000'000;
inline constexpr uint64_t kMaxChromosomeLength = 250'000'000;
// 1 cM per Mb: the expected number of crossovers per meiosis is the length
// in units of 100 Mb.
inline constexpr double kBasePairsPerMorgan = 1e8;

// Lengths uniform in 100..250 Mb; the variants shared out in proportion to
// length (the cumulative share rounded down, so the counts add up exactly);
// then a length below 2 bp a variant is raised to it.
inline std::vector<Chromosome> build_chromosomes(int count, uint64_t variants, Random& layout) {
  std::vector<Chromosome> chromosomes(count);
  unsigned __int128 total_length = 0;
  for (int c = 0; c < count; ++c) {
    chromosomes[c].name = std::to_string(c + 1);
    chromosomes[c].length =
        kMinChromosomeLength + layout.below(kMaxChromosomeLength - kMinChromosomeLength + 1);
    total_length += chromosomes[c].length;
  }
  unsigned __int128 cumulative_length = 0;
  uint64_t placed = 0;
  for (Chromosome& chrom : chromosomes) {
    cumulative_length += chrom.length;
    const uint64_t upto = static_cast<uint64_t>(variants * cumulative_length / total_length);
    chrom.variants = upto - placed;
    placed = upto;
    // Room for distinct positions however many variants are asked for.
    chrom.length = std::max(chrom.length, 2 * chrom.variants);
  }
  return chromosomes;
}

struct Variant {
  uint64_t position;
  uint64_t alt_threshold;  // P(allele is ALT) as a 32-bit threshold
  char ref, alt;
};

// Variants of one chromosome in position order: position i sits in the first
// half of the i-th of `variants` equal slices of the chromosome, so positions
// are distinct and increasing; the minor-allele frequency is uniform in
// 0.05..0.5 and the ALT allele is the minor one half of the time.
class VariantStream {
 public:
  VariantStream(const Chromosome& chrom, Random& layout) : chrom_(chrom), layout_(layout) {}

  bool done() const { return index_ >= chrom_.variants; }

  Variant next() {
    const uint64_t start = slice_start(index_);
    const uint64_t width = slice_start(index_ + 1) - start;
    Variant v;
    v.position = std::max(previous_ + 1, start + 1 + layout_.below(std::max<uint64_t>(1, width / 2)));
    previous_ = v.position;
    const double maf = 0.05 + 0.45 * layout_.uniform();
    const bool alt_is_minor = layout_.next() >> 63;
    v.alt_threshold = probability_threshold(alt_is_minor ? maf : 1 - maf);
    static constexpr char kBases[] = "ACGT";
    const uint64_t ref = layout_.below(4);
    v.ref = kBases[ref];
    v.alt = kBases[(ref + 1 + layout_.below(3)) % 4];
    ++index_;
    return v;
  }

 private:
  uint64_t slice_start(uint64_t i) const {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(i) * chrom_.length / chrom_.variants);
  }

  const Chromosome& chrom_;
  Random& layout_;
  uint64_t index_ = 0;
  uint64_t previous_ = 0;
};

// One transmitted haplotype of a child on one chromosome: which of the
// parent's two haplotypes it copies, switching at each crossover.
struct Transmission {
  int parent = -1;
  unsigned source = 0;               // parent's haplotype being copied (0 or 1)
  std::vector<uint64_t> crossovers;  // sorted positions where the source switches
  size_t next_crossover = 0;

  void draw_meiosis(const Chromosome& chrom, Random& meiosis) {
    source = static_cast<unsigned>(meiosis.next() >> 63);
    crossovers.resize(meiosis.poisson(static_cast<double>(chrom.length) / kBasePairsPerMorgan));
    for (uint64_t& pos : crossovers) pos = 1 + meiosis.below(chrom.length);
    std::sort(crossovers.begin(), crossovers.end());
    next_crossover = 0;
  }

  // Source haplotype at `position`; positions must not decrease between calls.
  unsigned source_at(uint64_t position) {
    while (next_crossover < crossovers.size() && crossovers[next_crossover] <= position) {
      source ^= 1;
      ++next_crossover;
    }
    return source;
  }
};

}  // namespace cohort
