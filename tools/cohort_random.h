// Random numbers for the cohort simulator: a seeded xoshiro256** stream and
// the few draws the simulation needs. Only integer operations and the basic
// IEEE double operations are used (no libm), so a seed gives the same numbers
// on every machine and compiler.
#pragma once
#include <cstdint>

namespace cohort {

inline uint64_t splitmix64_next(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// xoshiro256**: fast, small state, good enough statistics for simulation.
class Random {
 public:
  // `stream` separates independent uses of one seed, so that (for example)
  // changing the missing rate leaves every genotype as it was.
  Random(uint64_t seed, uint64_t stream) {
    uint64_t sm = seed ^ (stream * 0xD1B54A32D192ED03ull);
    for (uint64_t& word : s_) word = splitmix64_next(sm);
  }

  uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, 1) with 53 random bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  // Uniform integer in [0, n), n > 0 (multiply-shift; bias below 2^-32 for
  // the bounds used here).
  uint64_t below(uint64_t n) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64);
  }

  // Poisson-distributed count with mean `mean` (Knuth's product method;
  // means here are a few units).
  uint32_t poisson(double mean) {
    const double limit = exp_negative(mean);
    uint32_t count = 0;
    double product = uniform();
    while (product > limit) {
      ++count;
      product *= uniform();
    }
    return count;
  }

  // e^-x for x >= 0 from a Taylor series and integer powers: basic
  // operations only, hence identical everywhere.
  static double exp_negative(double x) {
    uint32_t parts = 1;
    while (x / parts > 0.5) parts *= 2;
    const double y = x / parts;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 30; ++k) {
      term *= y / k;
      sum += term;
    }
    double result = 1.0 / sum;
    for (uint32_t p = 1; p < parts; p *= 2) result *= result;
    return result;
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

// A probability as a 32-bit threshold: draw < threshold happens with that
// probability (to 2^-32).
inline uint64_t probability_threshold(double p) {
  if (p <= 0) return 0;
  if (p >= 1) return 1ull << 32;
  return static_cast<uint64_t>(p * 4294967296.0);
}

}  // namespace cohort
