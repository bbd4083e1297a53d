// The tokenizer: what separates, what ends a token, where the NULs go.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "input/line_tokens.h"

namespace {

// Splits `text` (plus one spare byte for a NUL at the end of the range) and
// returns the tokens and the bytes of the line afterwards.
struct Split {
  std::vector<std::string> tokens;
  std::string line_after;
};

Split split(std::string text, int32_t line_length = -2) {
  if (line_length == -2) line_length = static_cast<int32_t>(text.size());
  text.push_back('#');
  auto tokens = std::make_unique<LineTokens>();
  int32_t count = tokens->split(text.data(), line_length);
  Split out;
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_EQ(tokens->token[i][tokens->length[i]], '\0') << "token " << i;
    out.tokens.emplace_back(tokens->token[i], tokens->length[i]);
  }
  out.line_after = text;
  return out;
}

using Tokens = std::vector<std::string>;

TEST(LineTokens, VcfDataLine) {
  std::string line = "chr1\t1000\trs1\tA\tG\t.\tPASS\t.\tGT\t0|1\t1/1\n";
  ASSERT_EQ(line.size(), 38u);
  Split s = split(line);
  EXPECT_EQ(s.tokens, (Tokens{"chr1", "1000", "rs1", "A", "G", ".", "PASS", ".", "GT", "0|1", "1/1"}));
  EXPECT_EQ(s.line_after.find_first_of("\t\n"), std::string::npos);
}

TEST(LineTokens, BlanksAndTabsSeparateNewlinesOnlyEnd) {
  EXPECT_EQ(split("a\t\tb\n").tokens, (Tokens{"a", "b"}));
  EXPECT_EQ(split("a\t\tb\n").line_after, std::string("a\0\tb\0#", 6));  // only the ender is consumed
  EXPECT_EQ(split("\t a\n").tokens, Tokens{"a"});
  EXPECT_EQ(split("a\n b\n").tokens, (Tokens{"a", "b"}));
  EXPECT_EQ(split("a\r b\n").tokens, (Tokens{"a\r", "b"}));
  EXPECT_EQ(split(std::string("a\0b\t", 4)).tokens, Tokens{std::string("a\0b", 3)});
}

TEST(LineTokens, NewlineWhereATokenWouldStartIsAnEmptyToken) {
  EXPECT_EQ(split("a\t\n").tokens, (Tokens{"a", ""}));
  EXPECT_EQ(split("\n").tokens, Tokens{""});
  EXPECT_EQ(split(" \t\n").tokens, Tokens{""});
  EXPECT_EQ(split("\n\n").tokens, (Tokens{"", ""}));
}

TEST(LineTokens, RangeBoundsTheScan) {
  EXPECT_EQ(split(" \t \t").tokens, Tokens{});
  EXPECT_EQ(split(" \t \t").line_after, " \t \t#");
  Split ab = split("ab");
  EXPECT_EQ(ab.tokens, Tokens{"ab"});
  EXPECT_EQ(ab.line_after, std::string("ab\0", 3));  // NUL one past the range
  for (int32_t n : {0, -1}) {
    Split none = split("a b\n", n);
    EXPECT_EQ(none.tokens, Tokens{});
    EXPECT_EQ(none.line_after, "a b\n#");
  }
  EXPECT_EQ(split("ab cd\n", 4).tokens, (Tokens{"ab", "c"}));
}

TEST(LineTokens, LinesBeyondTheFixedRoomGrowTheRecord) {
  const int32_t n = LineTokens::kTokenRoom * 2 + 7;
  std::string line;
  for (int32_t i = 0; i < n; ++i) line += std::to_string(i) + (i + 1 < n ? "\t" : "\n");
  auto tokens = std::make_unique<LineTokens>();
  ASSERT_EQ(tokens->split(line.data(), static_cast<int32_t>(line.size())), n);
  for (int32_t i : {0, LineTokens::kTokenRoom - 1, LineTokens::kTokenRoom, n - 1}) {
    EXPECT_EQ(std::string(tokens->token[i]), std::to_string(i));
  }
  // The grown record keeps working for the next line.
  std::string next = "x y\n";
  EXPECT_EQ(tokens->split(next.data(), 4), 2);
  EXPECT_STREQ(tokens->token[1], "y");
}

// The chunked split must give exactly the plain split's tokens and NULs on
// lines of every length around the 64-byte chunks, over a small alphabet
// rich in separators.
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
    int32_t n = static_cast<int32_t>(next() % 300);
    std::string text(static_cast<size_t>(n) + 1, '#');
    int weight = 1 + static_cast<int>(next() % 7);  // how often a separator comes
    for (int32_t i = 0; i < n; ++i) {
      text[i] = next() % 8 < static_cast<uint32_t>(weight) ? alphabet[next() % 3]
                                                           : alphabet[3 + next() % 5];
    }
    std::string a = text, b = text;
    int32_t count = fast->split(a.data(), n);
    ASSERT_EQ(count, plain->split_plain(b.data(), n)) << "round " << round;
    ASSERT_EQ(a, b) << "round " << round;
    for (int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(fast->token[i] - a.data(), plain->token[i] - b.data()) << "round " << round;
      ASSERT_EQ(fast->length[i], plain->length[i]) << "round " << round;
    }
  }
}

}  // namespace
