// The tokenizer: what separates, what ends a token, where the NULs go.
#include "input/line_tokens.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {
using Tokens = std::vector<std::string>;

TEST(LineTokens, SeparatorsEndersAndTheRange) {
  struct Case {
    std::string text;
    int32_t length;  // -2: the whole text
    Tokens tokens;
    std::string after;  // the text and its spare byte '#' afterwards; "" when not checked
  };
  const Case cases[] = {
      {"a\t\tb\n", -2, {"a", "b"}, std::string("a\0\tb\0#", 6)},  // only the ender is consumed
      {"\t a\n b\n", -2, {"a", "b"}, ""},
      {"a\r b\n", -2, {"a\r", "b"}, ""},
      {std::string("a\0b\t", 4), -2, {std::string("a\0b", 3)}, ""},
      {" \t\n\n", -2, {"", ""}, ""},  // a newline where a token would start is an empty token
      {" \t \t", -2, {}, " \t \t#"},
      {"ab", -2, {"ab"}, std::string("ab\0", 3)},  // NUL one past the range
      {"a b\n", 0, {}, "a b\n#"},
      {"a b\n", -1, {}, "a b\n#"},
      {"ab cd\n", 4, {"ab", "c"}, ""},
  };
  auto tokens = std::make_unique<LineTokens>();
  for (const Case& c : cases) {
    std::string text = c.text + "#";
    const int32_t n = c.length == -2 ? static_cast<int32_t>(c.text.size()) : c.length;
    const int32_t count = tokens->split(text.data(), n);
    Tokens got;
    for (int32_t i = 0; i < count; ++i) {
      EXPECT_EQ(tokens->token[i][tokens->length[i]], '\0') << c.text << " token " << i;
      got.emplace_back(tokens->token[i], tokens->length[i]);
    }
    EXPECT_EQ(got, c.tokens) << c.text;
    if (!c.after.empty()) {
      EXPECT_EQ(text, c.after) << c.text;
    }
  }
}

// The chunked split must give exactly the plain split's tokens and NULs on
// lines of every length around its 64-byte chunks, over an alphabet rich in
// separators.
TEST(LineTokens, ChunkedSplitMatchesThePlainOne) {
  const char alphabet[] = {' ', '\t', '\n', 'a', '0', '/', '\0', '\r'};
  uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state >> 33);
  };
  auto fast = std::make_unique<LineTokens>();
  auto plain = std::make_unique<LineTokens>();
  for (int round = 0; round < 4000; ++round) {
    const int32_t n = static_cast<int32_t>(next() % 300);
    std::string a(static_cast<size_t>(n) + 1, '#');
    const uint32_t weight = 1 + next() % 7;  // how often a separator comes
    for (int32_t i = 0; i < n; ++i)
      a[i] = next() % 8 < weight ? alphabet[next() % 3] : alphabet[3 + next() % 5];
    std::string b = a;
    const int32_t count = fast->split(a.data(), n);
    ASSERT_EQ(count, plain->split_plain(b.data(), n)) << "round " << round;
    ASSERT_EQ(a, b) << "round " << round;
    for (int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(fast->token[i] - a.data(), plain->token[i] - b.data()) << "round " << round;
      ASSERT_EQ(fast->length[i], plain->length[i]) << "round " << round;
    }
  }
}
}  // namespace
