// Transposed genotype rows built from codes, and readable scan results, for
// the pair scan tests and benchmark.
#pragma once
#include <cstdint>
#include <ostream>
#include <vector>

#include "ibd/pair_scan_kernels.h"

// A transposed row of codes.size() bytes, as the transposed matrix holds it:
// two codes per byte, the earlier in bits 3-2, an odd last code alone in
// bits 1-0, and zeros after the packed bytes.
inline std::vector<uint8_t> pack_codes(const std::vector<int>& codes) {
  const size_t n = codes.size();
  std::vector<uint8_t> row(n, 0);
  for (size_t v = 0; v + 1 < n; v += 2)
    row[v / 2] = static_cast<uint8_t>(codes[v] << 2 | codes[v + 1]);
  if (n % 2) row[n / 2] = static_cast<uint8_t>(codes[n - 1]);
  return row;
}

inline void PrintTo(const IbdSegment& s, std::ostream* os) {
  *os << "{IBD" << s.type << " chromosome " << s.chromosome << ", " << s.start << "-" << s.end
      << "}";
}
inline void PrintTo(const PairScanTotals& t, std::ostream* os) {
  *os << "{sum " << t.sum1 << "/" << t.sum2 << ", segments " << t.segs1 << "/" << t.segs2
      << ", longest " << t.longest1 << "/" << t.longest2 << "}";
}
