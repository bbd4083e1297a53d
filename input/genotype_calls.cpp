// Checking and summing the common three-character genotype columns.
#include "input/genotype_calls.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "input/genotype_store.h"
#include "input/line_tokens.h"

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
namespace {
// genotype_code_table of each byte: '0' is 0, '1' to '3' are 1, the rest 16.
inline __m128i allele_codes(__m128i bytes) {
  const __m128i d = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i allele = _mm_cmpeq_epi8(_mm_subs_epu8(d, _mm_set1_epi8(3)), _mm_setzero_si128());
  return _mm_or_si128(_mm_and_si128(allele, _mm_min_epu8(d, _mm_set1_epi8(1))),
                      _mm_andnot_si128(allele, _mm_set1_epi8(16)));
}

// ends_token of each byte, as a mask.
inline __m128i ends_token_mask(__m128i bytes) {
  return _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')),
                                   _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
}

// The low bytes of the 32-bit lanes of four vectors, in order.
inline __m128i low_bytes(__m128i a, __m128i b, __m128i c, __m128i d) {
  return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
}
}  // namespace

// Sixteen samples (64 bytes) per step, up to the group holding the last
// sample, whose newline the plain kernel checks with the few samples left.
// Each 32-bit lane of a vector is one column: its first and third bytes the
// alleles, the second the phase mark, the fourth the tab. The marks and tabs
// are checked lane by lane; the alleles are gathered into one vector of first
// and one of second alleles, then checked and coded 16 at a time.
bool fixed_width_sums(const char* calls, int32_t samples, uint8_t* sums) {
  const __m128i mark_and_tab = _mm_set1_epi32(static_cast<int>(0xff00ff00u));
  const __m128i slash_tab = _mm_set1_epi32(('\t' << 24) | ('/' << 8));
  const __m128i pipe_tab = _mm_set1_epi32(('\t' << 24) | ('|' << 8));
  const __m128i low_byte = _mm_set1_epi32(0xff);

  int32_t s = 0;
  for (; s + 16 < samples; s += 16) {
    const char* p = calls + 4 * static_cast<int64_t>(s);
    __m128i lane[4], first[4], second[4];
    __m128i lanes_ok = _mm_set1_epi8(-1);
    for (int k = 0; k < 4; ++k) {
      lane[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      const __m128i fixed = _mm_and_si128(lane[k], mark_and_tab);
      lanes_ok = _mm_and_si128(lanes_ok, _mm_or_si128(_mm_cmpeq_epi32(fixed, slash_tab),
                                                      _mm_cmpeq_epi32(fixed, pipe_tab)));
      first[k] = _mm_and_si128(lane[k], low_byte);
      second[k] = _mm_and_si128(_mm_srli_epi32(lane[k], 16), low_byte);
    }
    const __m128i a = low_bytes(first[0], first[1], first[2], first[3]);
    const __m128i b = low_bytes(second[0], second[1], second[2], second[3]);
    const __m128i ends = _mm_or_si128(ends_token_mask(a), ends_token_mask(b));
    if (_mm_movemask_epi8(lanes_ok) != 0xffff || _mm_movemask_epi8(ends) != 0) return false;
    // Each sum is at most 32.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + s),
                     _mm_add_epi8(allele_codes(a), allele_codes(b)));
  }
  return fixed_width_sums_plain(calls + 4 * static_cast<int64_t>(s), samples - s, sums + s);
}
#else
bool fixed_width_sums(const char* calls, int32_t samples, uint8_t* sums) {
  return fixed_width_sums_plain(calls, samples, sums);
}
#endif
