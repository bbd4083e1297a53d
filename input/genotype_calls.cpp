// Checking and summing the common three-character genotype columns.
#include "input/genotype_calls.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "input/genotype_store.h"

namespace {
inline bool ends_token(unsigned char c) { return c == ' ' || c == '\t' || c == '\n'; }
}  // namespace

bool fixed_width_sums_plain(const char* calls, int32_t samples, uint8_t* sums) {
  for (int32_t s = 0; s < samples; ++s) {
    const unsigned char* c = reinterpret_cast<const unsigned char*>(calls) + 4 * s;
    const unsigned char terminator = s + 1 == samples ? '\n' : '\t';
    if (c[3] != terminator || (c[1] != '/' && c[1] != '|') || ends_token(c[0]) || ends_token(c[2]))
      return false;
    sums[s] = static_cast<uint8_t>(genotype_code_table[c[0]] + genotype_code_table[c[2]]);
  }
  return true;
}

#ifdef __SSE2__
// Sixteen samples (64 bytes) per step, up to the group holding the last
// sample, whose newline the plain kernel checks with the few samples left.
// Each 32-bit lane of a vector is one column: its first and third bytes the
// alleles, the second the phase mark, the fourth the tab.
bool fixed_width_sums(const char* calls, int32_t samples, uint8_t* sums) {
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i pipe = _mm_set1_epi8('|');
  const __m128i digit_zero = _mm_set1_epi8('0');
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  const __m128i three = _mm_set1_epi8(3);
  const __m128i not_allele = _mm_set1_epi8(16);
  const __m128i low_byte = _mm_set1_epi32(0xff);
  // Byte roles within each lane: alleles, phase mark, tab.
  const __m128i allele_bytes = _mm_set1_epi32(0x00ff00ff);
  const __m128i mark_bytes = _mm_set1_epi32(0x0000ff00);
  const __m128i tab_bytes = _mm_set1_epi32(static_cast<int>(0xff000000u));

  int32_t s = 0;
  for (; s + 16 < samples; s += 16) {
    const char* p = calls + 4 * static_cast<int64_t>(s);
    __m128i lane_sums[4];
    __m128i all_ok = _mm_set1_epi8(-1);
    for (int k = 0; k < 4; ++k) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      const __m128i is_tab = _mm_cmpeq_epi8(bytes, tab);
      const __m128i ends = _mm_or_si128(
          is_tab, _mm_or_si128(_mm_cmpeq_epi8(bytes, blank), _mm_cmpeq_epi8(bytes, newline)));
      const __m128i is_mark =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, slash), _mm_cmpeq_epi8(bytes, pipe));
      const __m128i ok = _mm_or_si128(
          _mm_andnot_si128(ends, allele_bytes),
          _mm_or_si128(_mm_and_si128(is_mark, mark_bytes), _mm_and_si128(is_tab, tab_bytes)));
      all_ok = _mm_and_si128(all_ok, ok);
      // genotype_code_table per byte: '0' is 0, '1' to '3' are 1, the rest 16.
      const __m128i d = _mm_sub_epi8(bytes, digit_zero);
      const __m128i is_zero = _mm_cmpeq_epi8(d, zero);
      const __m128i up_to_three = _mm_cmpeq_epi8(_mm_min_epu8(d, three), d);
      const __m128i code = _mm_or_si128(_mm_andnot_si128(up_to_three, not_allele),
                                        _mm_and_si128(_mm_andnot_si128(is_zero, up_to_three), one));
      // First plus third byte of each lane; at most 32, so no carry leaves the byte.
      lane_sums[k] = _mm_and_si128(_mm_add_epi32(code, _mm_srli_epi32(code, 16)), low_byte);
    }
    if (_mm_movemask_epi8(all_ok) != 0xffff) return false;
    const __m128i words = _mm_packs_epi32(lane_sums[0], lane_sums[1]);
    const __m128i words_high = _mm_packs_epi32(lane_sums[2], lane_sums[3]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + s), _mm_packus_epi16(words, words_high));
  }
  return fixed_width_sums_plain(calls + 4 * static_cast<int64_t>(s), samples - s, sums + s);
}
#else
bool fixed_width_sums(const char* calls, int32_t samples, uint8_t* sums) {
  return fixed_width_sums_plain(calls, samples, sums);
}
#endif
