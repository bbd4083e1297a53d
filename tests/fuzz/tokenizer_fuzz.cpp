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
#include "tests/fuzz/reference_tokens.h"

namespace {

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
  // The tokens of the range, and the line with a NUL after each token.
  const std::vector<ReferenceToken> expected = reference_tokens(line.data(), size);
  std::vector<char> expected_line = line;
  for (const ReferenceToken& t : expected) expected_line[t.start + t.length] = '\0';

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
