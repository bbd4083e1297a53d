// The tokenizer's rules restated plainly, independent of its code, for the
// fuzz harness: blanks and tabs separate tokens; a token ends at a blank,
// tab or newline; a newline where a token would start is an empty token.
#pragma once
#include <cstddef>
#include <vector>

struct ReferenceToken {
  size_t start;
  size_t length;
};

inline bool reference_separates(char c) { return c == ' ' || c == '\t'; }

inline std::vector<ReferenceToken> reference_tokens(const char* line, size_t n) {
  std::vector<ReferenceToken> tokens;
  size_t p = 0;
  while (p < n) {
    if (reference_separates(line[p])) {
      ++p;
      continue;
    }
    size_t q = p;
    if (line[p] != '\n') {
      q = p + 1;
      while (q < n && !reference_separates(line[q]) && line[q] != '\n') ++q;
    }
    tokens.push_back({p, q - p});
    p = q + 1;
  }
  return tokens;
}
