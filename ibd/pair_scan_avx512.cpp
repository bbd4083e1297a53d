// The tolerant scan of up to 64 pairs at once with AVX-512BW, one byte lane
// per pair (the scheme is described in pair_scan_group.h); the break, penalty
// and closing selections use mask registers.

// GCC 12 warns inside its own AVX-512 headers about the deliberately
// undefined vectors they start from.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstdint>

#include "ibd/pair_scan_kernels.h"
#include "ibd/pair_scan_lanes.h"
#include "ibd/pair_scan_transpose.h"

namespace {

using V = __m512i;

// Bytes of each row fetched ahead of the chunk being read: many rows are read
// side by side, more than the hardware prefetcher follows.
constexpr int kPrefetchAhead = 128;

inline V splat(int value) { return _mm512_set1_epi8(static_cast<char>(value)); }

inline V table16(const uint8_t* table) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

// Sixteen bytes from p, widened to 32-bit lanes.
inline V widen_unsigned(const uint8_t* p) {
  return _mm512_cvtepu8_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}

struct Avx512 {
  static constexpr int kLanes = 64;
  static constexpr int kChunk = 64;  // also the transposed block
  using LaneMask = uint64_t;

  struct Tables {
    V sum_a = table16(kStepSumA);
    V sum_b = table16(kStepSumB);
    V second = table16(kSecondClass);
    V first = table16(kFirstClass);
    V code = table16(kStepCode);
    V low_nibble = splat(0x0f);
  };

  // Step codes of 64 byte pairs (see pair_scan_lanes.h).
  static V step_codes(const Tables& t, V a, V b) {
    const V sums =
        _mm512_add_epi8(_mm512_shuffle_epi8(t.sum_a, a), _mm512_shuffle_epi8(t.sum_b, b));
    const V second = _mm512_shuffle_epi8(t.second, sums);
    const V first_sum = _mm512_and_si512(_mm512_srli_epi16(sums, 4), t.low_nibble);
    const V first = _mm512_shuffle_epi8(t.first, first_sum);
    return _mm512_shuffle_epi8(t.code, _mm512_or_si512(first, second));
  }

  // Interleaves the low and high halves of x and y at Width bits in each 128-bit lane.
  struct Unpack {
    template <int Width>
    static void apply(V x, V y, V& lo, V& hi) {
      if constexpr (Width == 8) {
        lo = _mm512_unpacklo_epi8(x, y);
        hi = _mm512_unpackhi_epi8(x, y);
      } else if constexpr (Width == 16) {
        lo = _mm512_unpacklo_epi16(x, y);
        hi = _mm512_unpackhi_epi16(x, y);
      } else if constexpr (Width == 32) {
        lo = _mm512_unpacklo_epi32(x, y);
        hi = _mm512_unpackhi_epi32(x, y);
      } else {
        lo = _mm512_unpacklo_epi64(x, y);
        hi = _mm512_unpackhi_epi64(x, y);
      }
    }
  };

  // out[s] byte L = rows[L] byte s, for 64 rows of 64 bytes (rows is
  // scratch). After the four in-lane stages, vector u * 16 + i holds step
  // 16h + i of rows 16u .. 16u + 15 in its 128-bit lane h; a 4 x 4
  // transposition of 128-bit lanes finishes.
  static void transpose64(V* rows, V* out) {
    interleave_in_lanes<Unpack, kLanes>(rows);
    for (int i = 0; i < 16; ++i) {
      const V even01 = _mm512_shuffle_i64x2(rows[i], rows[16 + i], 0x88);
      const V odd01 = _mm512_shuffle_i64x2(rows[i], rows[16 + i], 0xdd);
      const V even23 = _mm512_shuffle_i64x2(rows[32 + i], rows[48 + i], 0x88);
      const V odd23 = _mm512_shuffle_i64x2(rows[32 + i], rows[48 + i], 0xdd);
      out[i] = _mm512_shuffle_i64x2(even01, even23, 0x88);
      out[32 + i] = _mm512_shuffle_i64x2(even01, even23, 0xdd);
      out[16 + i] = _mm512_shuffle_i64x2(odd01, odd23, 0x88);
      out[48 + i] = _mm512_shuffle_i64x2(odd01, odd23, 0xdd);
    }
  }

  // Rows are read only within the chunk: a short chunk uses masked loads.
  static void build_chunk(const uint8_t* const* rows_a, const uint8_t* const* rows_b, int32_t first,
                          int32_t steps, const Tables& tables, uint8_t* out) {
    V codes[kLanes];
    const __mmask64 inside = ~0ull >> (kChunk - steps);
    for (int lane = 0; lane < kLanes; ++lane) {
      const V a = _mm512_maskz_loadu_epi8(inside, rows_a[lane] + first);
      const V b = _mm512_maskz_loadu_epi8(inside, rows_b[lane] + first);
      _mm_prefetch(reinterpret_cast<const char*>(rows_a[lane] + first + kPrefetchAhead),
                   _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(rows_b[lane] + first + kPrefetchAhead),
                   _MM_HINT_T0);
      codes[lane] = step_codes(tables, a, b);
    }
    transpose64(codes, reinterpret_cast<V*>(out));
  }

  // Byte deltas of one kind of run over a chunk: the length added since the
  // chunk start or the last closing, the first closing's delta, the largest
  // closing delta, and the lanes without a closing yet.
  struct Deltas {
    V delta = _mm512_setzero_si512();
    V first_close = _mm512_setzero_si512();
    V max_close = _mm512_setzero_si512();
    __mmask64 open = ~0ull;

    void step(V t, __mmask64 close) {
      delta = _mm512_add_epi8(delta, t);
      max_close = _mm512_mask_max_epu8(max_close, close, max_close, delta);
      first_close = _mm512_mask_mov_epi8(first_close, close & open, delta);
      open &= ~close;
      delta = _mm512_mask_mov_epi8(delta, close, _mm512_setzero_si512());
    }
  };

  struct Counters {
    V breaks;   // IBS2 breaks of the open IBS2 run
    V penalty;  // IBS1 break debt

    void clear() { breaks = penalty = _mm512_setzero_si512(); }
    void store(uint8_t* breaks_out, uint8_t* penalty_out) const {
      _mm512_store_si512(breaks_out, breaks);
      _mm512_store_si512(penalty_out, penalty);
    }
    void step(const uint8_t* codes, Deltas& run1, Deltas& run2) {
      const V zero = _mm512_setzero_si512();
      const V c = _mm512_load_si512(codes);
      const V t2 = _mm512_and_si512(c, splat(3));
      const V t1 = _mm512_and_si512(_mm512_srli_epi16(c, kStepCodeT1Shift), splat(3));
      // The fifth IBS2 break closes the IBS2 run.
      breaks = _mm512_mask_add_epi8(breaks, _mm512_cmplt_epu8_mask(t2, splat(2)), breaks, splat(1));
      const __mmask64 close2 = _mm512_cmpgt_epu8_mask(breaks, splat(4));
      breaks = _mm512_mask_mov_epi8(breaks, close2, zero);
      // An IBS1 break raises the penalty to max(p + 69, 70), any other byte
      // lowers it by 1 down to 0; past 231 the IBS1 run closes.
      const __mmask64 ibs1_break = _mm512_cmplt_epu8_mask(c, splat(8));
      const V lowered = _mm512_subs_epu8(penalty, splat(1));
      const V raised = _mm512_max_epu8(_mm512_adds_epu8(penalty, splat(69)), splat(70));
      penalty = _mm512_mask_mov_epi8(lowered, ibs1_break, raised);
      const __mmask64 close1 = _mm512_cmpgt_epu8_mask(penalty, splat(231));
      penalty = _mm512_mask_mov_epi8(penalty, close1, zero);
      run2.step(t2, close2);
      run1.step(t1, close1);
    }
  };

  // Full run lengths of one kind, 16 lanes per vector.
  struct Lengths {
    V base[4];     // the run length at the chunk start
    V longest[4];  // the longest closed run so far

    void clear_base() {
      for (V& v : base) v = _mm512_setzero_si512();
    }
    void clear_longest() {
      for (V& v : longest) v = _mm512_setzero_si512();
    }
    void store_base(int32_t* out) const {
      for (int j = 0; j < 4; ++j) _mm512_store_si512(out + 16 * j, base[j]);
    }
    void store_longest(int32_t* out) const {
      for (int j = 0; j < 4; ++j) _mm512_store_si512(out + 16 * j, longest[j]);
    }
    LaneMask fold(const Deltas& d, int32_t threshold) {
      alignas(64) uint8_t first[kLanes], most[kLanes], delta[kLanes];
      _mm512_store_si512(first, d.first_close);
      _mm512_store_si512(most, d.max_close);
      _mm512_store_si512(delta, d.delta);
      const V limit = _mm512_set1_epi32(threshold);
      LaneMask passed = 0;
      for (int j = 0; j < 4; ++j) {
        const __mmask16 closed_lanes = static_cast<__mmask16>(~(d.open >> (16 * j)));
        const V first_len = _mm512_add_epi32(base[j], widen_unsigned(first + 16 * j));
        const V closed =
            _mm512_maskz_max_epi32(closed_lanes, first_len, widen_unsigned(most + 16 * j));
        longest[j] = _mm512_max_epi32(longest[j], closed);
        const LaneMask pass = _mm512_mask_cmpgt_epi32_mask(closed_lanes, closed, limit);
        passed |= pass << (16 * j);
        const V kept = _mm512_maskz_mov_epi32(static_cast<__mmask16>(~closed_lanes), base[j]);
        base[j] = _mm512_add_epi32(kept, widen_unsigned(delta + 16 * j));
      }
      return passed;
    }
  };
};

}  // namespace

#include "ibd/pair_scan_group.h"

void scan_tolerant_batch_avx512(const uint8_t* const* rows_a, const uint8_t* const* rows_b,
                                int32_t n, const ScanLayout& layout, PairScanTotals* totals,
                                SegmentList* segments) {
  scan_lane_groups<Avx512>(rows_a, rows_b, n, layout, totals, segments);
}
