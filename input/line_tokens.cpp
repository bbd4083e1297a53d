// One-pass, in-place tokenizer of input lines.
#include "input/line_tokens.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "input/genotype_store.h"

namespace {
// ends_token and separates_tokens of every byte, as a table.
constexpr uint8_t kEndsToken = 1;
constexpr uint8_t kSeparates = 2;

struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    for (int c = 0; c < 256; ++c) {
      const auto byte = static_cast<unsigned char>(c);
      of[c] = static_cast<uint8_t>((ends_token(byte) ? kEndsToken : 0) |
                                   (separates_tokens(byte) ? kSeparates : 0));
    }
  }
};
constexpr ByteClasses kClasses;
}  // namespace

LineTokens::LineTokens()
    : capacity(120000),
      buffer(static_cast<int32_t*>(malloc(120000 * sizeof(int32_t)))),
      token(token_room_),
      length(length_room_) {}

LineTokens::~LineTokens() {
  free(buffer);
  if (grown_) {
    free(token);
    free(length);
  }
}

// Doubles the room for tokens, moving what is recorded to the heap.
void LineTokens::grow() {
  int32_t room = room_ * 2;
  char** tokens = static_cast<char**>(malloc(sizeof(char*) * room));
  int32_t* lengths = static_cast<int32_t*>(malloc(sizeof(int32_t) * room));
  if (tokens == nullptr || lengths == nullptr) {
    fail_allocation(static_cast<int64_t>(room) * (sizeof(char*) + sizeof(int32_t)));
  }
  memcpy(tokens, token, sizeof(char*) * room_);
  memcpy(lengths, length, sizeof(int32_t) * room_);
  if (grown_) {
    free(token);
    free(length);
  }
  token = tokens;
  length = lengths;
  room_ = room;
  grown_ = true;
}

// Records token `count` as [p, q) and writes the NUL over the byte at q.
inline void LineTokens::record(int32_t count, char* p, char* q) {
  *q = '\0';
  if (count == room_) grow();
  token[count] = p;
  length[count] = static_cast<int32_t>(q - p);
}

int32_t LineTokens::split_plain(char* line, int32_t line_length) {
  if (line_length <= 0) return 0;
  char* const end = line + line_length;
  int32_t count = 0;
  char* p = line;
  while (p < end) {
    while (kClasses.of[static_cast<uint8_t>(*p)] & kSeparates) {
      if (++p == end) return count;
    }
    // A newline where a token would start is an empty token.
    char* q = p;
    if (*q != '\n') {
      ++q;
      while (q < end && !(kClasses.of[static_cast<uint8_t>(*q)] & kEndsToken)) ++q;
    }
    record(count++, p, q);  // at end, q is line[line_length], one past the range
    p = q + 1;
  }
  return count;
}

bool LineTokens::split_tab_columns(char* line, int32_t line_length, int32_t columns) {
  if (columns > room_) return false;
  int32_t found = 0;
  int32_t start = 0;
  for (int32_t i = 0; i < line_length; ++i) {
    if (!(kClasses.of[static_cast<uint8_t>(line[i])] & kEndsToken)) continue;
    if (line[i] != '\t' || i == start || found == columns) return false;
    token[found] = line + start;
    length[found] = i - start;
    ++found;
    start = i + 1;
  }
  if (found != columns || start != line_length) return false;
  for (int32_t k = 0; k < columns; ++k) token[k][length[k]] = '\0';
  return true;
}

#ifdef __SSE2__
namespace {
struct ChunkMasks {
  uint64_t separator;  // blank or tab
  uint64_t newline;
};

// Bit i of each mask describes byte i of the 64 bytes at p.
inline ChunkMasks classify_chunk(const char* p) {
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i newline = _mm_set1_epi8('\n');
  ChunkMasks masks{0, 0};
  for (int k = 0; k < 4; ++k) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    uint64_t sep = static_cast<uint32_t>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, blank), _mm_cmpeq_epi8(bytes, tab))));
    uint64_t nl = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
    masks.separator |= sep << (16 * k);
    masks.newline |= nl << (16 * k);
  }
  return masks;
}
}  // namespace

// The same tokens as split_plain, found 64 bytes at a time: a token starts at
// every byte that is not a blank or tab and follows a blank, tab or newline
// (or the start of the line); a newline start is an empty token; any other
// token ends at the next blank, tab or newline. All masks of a chunk are
// taken before its NULs are written.
int32_t LineTokens::split(char* line, int32_t line_length) {
  if (line_length <= 0) return 0;
  int32_t count = 0;
  char* open_token = nullptr;  // start of a token that runs past the chunks seen so far
  uint64_t ends_before = 1;    // bit 63 of the previous chunk's token-ending mask; the line start counts
  char tail[64];
  // A 64-bit offset: a line up to INT32_MAX bytes long must not overflow it.
  for (int64_t offset = 0; offset < line_length; offset += 64) {
    char* chunk = line + offset;
    const int32_t valid = static_cast<int32_t>(std::min<int64_t>(line_length - offset, 64));
    ChunkMasks masks;
    uint64_t in_range = ~uint64_t{0};
    if (valid >= 64) {
      masks = classify_chunk(chunk);
    } else {
      memcpy(tail, chunk, static_cast<size_t>(valid));
      memset(tail + valid, 'x', static_cast<size_t>(64 - valid));
      masks = classify_chunk(tail);
      in_range = (uint64_t{1} << valid) - 1;
    }
    const uint64_t ends = masks.separator | masks.newline;
    uint64_t starts = ~masks.separator & ((ends << 1) | ends_before) & in_range;
    ends_before = ends >> 63;
    if (open_token != nullptr && ends != 0) {
      record(count++, open_token, chunk + __builtin_ctzll(ends));
      open_token = nullptr;
    }
    while (starts != 0) {
      int bit = __builtin_ctzll(starts);
      starts &= starts - 1;
      if ((masks.newline >> bit) & 1) {
        record(count++, chunk + bit, chunk + bit);
        continue;
      }
      uint64_t after = ends & (~uint64_t{0} << bit);
      if (after == 0) {
        open_token = chunk + bit;
        break;  // no later start can lie in this chunk
      }
      record(count++, chunk + bit, chunk + __builtin_ctzll(after));
    }
  }
  if (open_token != nullptr) record(count++, open_token, line + line_length);
  return count;
}
#else
int32_t LineTokens::split(char* line, int32_t line_length) { return split_plain(line, line_length); }
#endif
