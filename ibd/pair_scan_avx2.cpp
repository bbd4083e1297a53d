// The tolerant scan of up to 32 pairs at once with AVX2, one byte lane per
// pair (the scheme is described in pair_scan_group.h).
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "ibd/pair_scan_kernels.h"
#include "ibd/pair_scan_lanes.h"
#include "ibd/pair_scan_transpose.h"

namespace {

using V = __m256i;

// Bytes of each row fetched ahead of the chunk being read: many rows are read
// side by side, more than the hardware prefetcher follows.
constexpr int kPrefetchAhead = 128;
constexpr int kBlock = 32;  // steps per transposed block

inline V splat(int value) { return _mm256_set1_epi8(static_cast<char>(value)); }

inline V table16(const uint8_t* table) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

inline V load_bytes(const void* p) { return _mm256_load_si256(static_cast<const V*>(p)); }
inline void store_bytes(void* p, V v) { _mm256_store_si256(static_cast<V*>(p), v); }
// Eight bytes from p, widened to 32-bit lanes.
inline V widen_unsigned(const uint8_t* p) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
inline V widen_signed(const int8_t* p) {
  return _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// Interleaves the low and high halves of x and y at Width bits in each 128-bit lane.
struct Unpack {
  template <int Width>
  static void apply(V x, V y, V& lo, V& hi) {
    if constexpr (Width == 8) {
      lo = _mm256_unpacklo_epi8(x, y);
      hi = _mm256_unpackhi_epi8(x, y);
    } else if constexpr (Width == 16) {
      lo = _mm256_unpacklo_epi16(x, y);
      hi = _mm256_unpackhi_epi16(x, y);
    } else if constexpr (Width == 32) {
      lo = _mm256_unpacklo_epi32(x, y);
      hi = _mm256_unpackhi_epi32(x, y);
    } else {
      lo = _mm256_unpacklo_epi64(x, y);
      hi = _mm256_unpackhi_epi64(x, y);
    }
  }
};

// out[s] byte L = rows[L] byte s, for 32 rows of 32 bytes (rows is scratch).
// After the four in-lane stages, vector u * 16 + i holds step 16h + i of rows
// 16u .. 16u + 15 in its 128-bit half h.
inline void transpose32(V* rows, V* out) {
  interleave_in_lanes<Unpack, kBlock>(rows);
  for (int i = 0; i < 16; ++i) {
    out[i] = _mm256_permute2x128_si256(rows[i], rows[16 + i], 0x20);
    out[16 + i] = _mm256_permute2x128_si256(rows[i], rows[16 + i], 0x31);
  }
}

struct Avx2 {
  static constexpr int kLanes = 32;
  static constexpr int kChunk = 64;
  using LaneMask = uint32_t;

  struct Tables {
    V sum_a = table16(kStepSumA);
    V sum_b = table16(kStepSumB);
    V second = table16(kSecondClass);
    V first = table16(kFirstClass);
    V code = table16(kStepCode);
    V low_nibble = splat(0x0f);
  };

  // Step codes of 32 byte pairs (see pair_scan_lanes.h).
  static V step_codes(const Tables& t, V a, V b) {
    const V sums =
        _mm256_add_epi8(_mm256_shuffle_epi8(t.sum_a, a), _mm256_shuffle_epi8(t.sum_b, b));
    const V second = _mm256_shuffle_epi8(t.second, sums);
    const V first_sum = _mm256_and_si256(_mm256_srli_epi16(sums, 4), t.low_nibble);
    const V first = _mm256_shuffle_epi8(t.first, first_sum);
    return _mm256_shuffle_epi8(t.code, _mm256_or_si256(first, second));
  }

  // Rows are read only within the chunk: a short block goes through a
  // zero-filled copy.
  static void build_block(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t first,
                          int32_t steps, const Tables& tables, uint8_t* out) {
    V codes[kLanes];
    for (int lane = 0; lane < kLanes; ++lane) {
      V a, b;
      if (steps == kBlock) {
        a = _mm256_loadu_si256(reinterpret_cast<const V*>(rows_a[lane] + first));
        b = _mm256_loadu_si256(reinterpret_cast<const V*>(rows_b[lane] + first));
      } else {
        alignas(32) uint8_t tail_a[kBlock] = {};
        alignas(32) uint8_t tail_b[kBlock] = {};
        memcpy(tail_a, rows_a[lane] + first, steps);
        memcpy(tail_b, rows_b[lane] + first, steps);
        a = load_bytes(tail_a);
        b = load_bytes(tail_b);
      }
      _mm_prefetch(reinterpret_cast<const char*>(rows_a[lane] + first + kPrefetchAhead),
                   _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(rows_b[lane] + first + kPrefetchAhead),
                   _MM_HINT_T0);
      codes[lane] = step_codes(tables, a, b);
    }
    transpose32(codes, reinterpret_cast<V*>(out));
  }

  static void build_chunk(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t first,
                          int32_t steps, const Tables& tables, uint8_t* codes) {
    for (int32_t b = 0; b * kBlock < steps; ++b) {
      const int32_t block_steps = steps - b * kBlock < kBlock ? steps - b * kBlock : kBlock;
      build_block(rows_a, rows_b, first + b * kBlock, block_steps, tables,
                  codes + b * kBlock * kLanes);
    }
  }

  // Byte deltas of one kind of run over a chunk: the length added since the
  // chunk start or the last closing, the first closing's delta, the largest
  // closing delta, and all ones in the lanes without a closing yet.
  struct Deltas {
    V delta = _mm256_setzero_si256();
    V first_close = _mm256_setzero_si256();
    V max_close = _mm256_setzero_si256();
    V open = _mm256_set1_epi8(-1);

    // mask: all ones in the lanes whose run closes at this step, or with
    // kKeepMask in the lanes whose run goes on (whichever the caller has, so
    // that no negation is spent).
    template <bool kKeepMask = false>
    void step(V t, V mask) {
      // closed_part(x): x in the closing lanes; kept_part(x): x in the others.
      auto closed_part = [mask](V x) {
        return kKeepMask ? _mm256_andnot_si256(mask, x) : _mm256_and_si256(mask, x);
      };
      auto kept_part = [mask](V x) {
        return kKeepMask ? _mm256_and_si256(mask, x) : _mm256_andnot_si256(mask, x);
      };
      delta = _mm256_add_epi8(delta, t);
      const V closed = closed_part(delta);
      first_close = _mm256_max_epu8(first_close, _mm256_and_si256(open, closed));
      max_close = _mm256_max_epu8(max_close, closed);
      open = kept_part(open);
      delta = kept_part(delta);
    }
  };

  struct Counters {
    V breaks;   // IBS2 breaks of the open IBS2 run
    V penalty;  // IBS1 break debt

    void clear() { breaks = penalty = _mm256_setzero_si256(); }
    void store(uint8_t* breaks_out, uint8_t* penalty_out) const {
      store_bytes(breaks_out, breaks);
      store_bytes(penalty_out, penalty);
    }
    void step(const uint8_t* codes, Deltas& run1, Deltas& run2) {
      const V c = load_bytes(codes);
      const V t2 = _mm256_and_si256(c, splat(3));
      const V t1 = _mm256_and_si256(_mm256_srli_epi16(c, kStepCodeT1Shift), splat(3));
      // The fifth IBS2 break closes the IBS2 run.
      breaks = _mm256_sub_epi8(breaks, _mm256_cmpgt_epi8(splat(2), t2));
      const V close2 = _mm256_cmpgt_epi8(breaks, splat(4));
      breaks = _mm256_andnot_si256(close2, breaks);
      // An IBS1 break raises the penalty to max(p + 69, 70), any other byte
      // lowers it by 1 down to 0; past 231 the IBS1 run closes.
      const V ibs1_break = _mm256_cmpgt_epi8(splat(8), c);
      const V lowered = _mm256_subs_epu8(penalty, splat(1));
      const V raised = _mm256_max_epu8(_mm256_adds_epu8(penalty, splat(69)), splat(70));
      penalty = _mm256_max_epu8(lowered, _mm256_and_si256(ibs1_break, raised));
      const V keep1 = _mm256_cmpeq_epi8(_mm256_min_epu8(penalty, splat(231)), penalty);
      penalty = _mm256_and_si256(penalty, keep1);
      run2.step(t2, close2);
      run1.step<true>(t1, keep1);
    }
  };

  // Full run lengths of one kind, 8 lanes per vector.
  struct Lengths {
    V base[4];     // the run length at the chunk start
    V longest[4];  // the longest closed run so far

    void clear_base() {
      for (V& v : base) v = _mm256_setzero_si256();
    }
    void clear_longest() {
      for (V& v : longest) v = _mm256_setzero_si256();
    }
    void store_base(int32_t* out) const {
      for (int j = 0; j < 4; ++j) store_bytes(out + 8 * j, base[j]);
    }
    void store_longest(int32_t* out) const {
      for (int j = 0; j < 4; ++j) store_bytes(out + 8 * j, longest[j]);
    }
    LaneMask fold(const Deltas& d, int32_t threshold) {
      alignas(32) int8_t open[kLanes];
      alignas(32) uint8_t first[kLanes], most[kLanes], delta[kLanes];
      store_bytes(open, d.open);
      store_bytes(first, d.first_close);
      store_bytes(most, d.max_close);
      store_bytes(delta, d.delta);
      const V limit = _mm256_set1_epi32(threshold);
      LaneMask passed = 0;
      for (int j = 0; j < 4; ++j) {
        const V no_close = widen_signed(open + 8 * j);
        const V first_len = _mm256_add_epi32(base[j], widen_unsigned(first + 8 * j));
        const V closed = _mm256_andnot_si256(
            no_close, _mm256_max_epi32(first_len, widen_unsigned(most + 8 * j)));
        longest[j] = _mm256_max_epi32(longest[j], closed);
        // Only lanes that closed a run can pass (a negative threshold would
        // otherwise pass the zero of a lane without a closing).
        const V pass = _mm256_andnot_si256(no_close, _mm256_cmpgt_epi32(closed, limit));
        passed |= static_cast<LaneMask>(_mm256_movemask_ps(_mm256_castsi256_ps(pass))) << (8 * j);
        base[j] =
            _mm256_add_epi32(_mm256_and_si256(no_close, base[j]), widen_unsigned(delta + 8 * j));
      }
      return passed;
    }
  };
};

}  // namespace

#include "ibd/pair_scan_group.h"

void scan_tolerant_batch_avx2(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t n,
                              const ScanLayout& layout, PairScanTotals* totals,
                              SegmentList* segments) {
  scan_lane_groups<Avx2>(rows_a, rows_b, n, layout, totals, segments);
}
