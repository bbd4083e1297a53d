// One-pass, in-place tokenizer of input lines.
#include "input/line_tokens.h"

#include <cstdlib>
#include <cstring>

#include "input/genotype_store.h"

namespace {
// Blanks and tabs separate tokens; blanks, tabs and newlines end a token.
constexpr uint8_t kEndsToken = 1;
constexpr uint8_t kSeparates = 2;

struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    of[static_cast<uint8_t>(' ')] = kEndsToken | kSeparates;
    of[static_cast<uint8_t>('\t')] = kEndsToken | kSeparates;
    of[static_cast<uint8_t>('\n')] = kEndsToken;
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

int32_t LineTokens::split(char* line, int32_t line_length) {
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
    *q = '\0';  // at end this is line[line_length], one past the range
    if (count == room_) grow();
    token[count] = p;
    length[count] = static_cast<int32_t>(q - p);
    ++count;
    p = q + 1;
  }
  return count;
}
