// Fuzzes LineTokens::split against a plain restatement of its rules: the
// same tokens, the same NULs written, nothing touched outside the range and
// its one spare byte. Inputs may hold any bytes, NULs and newlines included,
// and more tokens than the record's fixed room.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "input/line_tokens.h"

namespace {

struct Token {
  size_t start;
  size_t length;
};

bool separates(char c) { return c == ' ' || c == '\t'; }
bool ends_token(char c) { return separates(c) || c == '\n'; }

// Tokens of line[0, n) and the line as split should leave it.
std::vector<Token> expected_split(std::vector<char>& line, size_t n) {
  std::vector<Token> tokens;
  size_t p = 0;
  while (p < n) {
    if (separates(line[p])) {
      ++p;
      continue;
    }
    size_t q = p;
    if (line[p] != '\n') {
      q = p + 1;
      while (q < n && !ends_token(line[q])) ++q;
    }
    line[q] = '\0';
    tokens.push_back({p, q - p});
    p = q + 1;
  }
  return tokens;
}

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "tokenizer mismatch: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  // The range and its spare byte, then a guard byte that must stay as it is.
  std::vector<char> line(data, data + size);
  line.push_back('\x7f');
  line.push_back('\x55');
  std::vector<char> expected_line = line;
  const std::vector<Token> expected = expected_split(expected_line, size);

  static LineTokens* tokens = new LineTokens();  // reused, as the reader does
  const int32_t count = tokens->split(line.data(), static_cast<int32_t>(size));

  if (count != static_cast<int32_t>(expected.size())) fail("token count");
  for (int32_t i = 0; i < count; ++i) {
    if (tokens->token[i] != line.data() + expected[i].start) fail("token start");
    if (tokens->length[i] != static_cast<int32_t>(expected[i].length)) fail("token length");
  }
  if (line != expected_line) fail("bytes written");
  return 0;
}
