// The reading kernels, the tokenizer and the fixed-width call sums, each
// against its byte-by-byte reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "input/genotype_calls.h"
#include "input/genotype_store.h"
#include "input/line_tokens.h"

namespace {

// Random lines of every length around the 64-byte chunks: the chunked split
// gives the plain split's tokens and NULs; the tab-column split, asked for
// the right count of columns, one fewer or one more, accepts exactly the
// lines of that many non-empty tab-ended columns and then records them as
// split does, else writes nothing.
TEST(LineTokens, ChunkedAndTabColumnSplitsMatchThePlainOne) {
  const char alphabet[] = {' ', '\t', '\n', 'a', '0', '/', '\0', '\r'};
  std::mt19937 rng(12345);
  auto fast = std::make_unique<LineTokens>();
  auto plain = std::make_unique<LineTokens>();
  for (int round = 0; round < 6000; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const int32_t n = static_cast<int32_t>(rng() % 300);
    std::string a(static_cast<size_t>(n) + 1, '#');
    const uint32_t weight = 1 + rng() % 7;  // how often a separator comes
    for (int32_t i = 0; i < n; ++i)
      a[i] = rng() % 8 < weight ? alphabet[rng() % 3] : alphabet[3 + rng() % 5];
    if (round % 2 == 1) {  // tab-ended columns, half of them with one byte changed
      for (int32_t i = 0; i < n; ++i)
        a[i] = i > 0 && a[i - 1] != '\t' && (rng() % 8 < weight || i + 1 == n)
                   ? '\t'
                   : alphabet[3 + rng() % 5];
      if (n > 0 && rng() % 2) a[rng() % n] = alphabet[rng() % 8];
    }
    std::string b = a, c = a;
    const int32_t count = fast->split(a.data(), n);
    ASSERT_EQ(count, plain->split_plain(b.data(), n));
    ASSERT_EQ(a, b);
    for (int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(fast->token[i] - a.data(), plain->token[i] - b.data());
      ASSERT_EQ(fast->length[i], plain->length[i]);
    }
    const std::string_view line(c.data(), static_cast<size_t>(n));
    const int32_t tabs = static_cast<int32_t>(std::count(line.begin(), line.end(), '\t'));
    const int32_t columns = tabs + static_cast<int32_t>(rng() % 3) - 1;
    const bool qualifies =
        columns == tabs &&
        (n == 0 || (line.back() == '\t' && line.front() != '\t' && line.find("\t\t") == line.npos &&
                    line.find_first_of(" \n") == line.npos));
    const std::string original = c;
    ASSERT_EQ(fast->split_tab_columns(c.data(), n, columns), qualifies) << columns;
    ASSERT_EQ(c, qualifies ? b : original);
    for (int32_t i = 0; i < (qualifies ? columns : 0); ++i) {
      ASSERT_EQ(fast->token[i] - c.data(), plain->token[i] - b.data());
      ASSERT_EQ(fast->length[i], plain->length[i]);
    }
  }
}

// Both kernels agree on which call sections have the common layout and on
// their sums, over sample counts around the 16-sample step and single-byte
// changes anywhere in a section.
TEST(FixedWidthSums, KernelsAgreeOnCommonCallsAndNearMisses) {
  std::mt19937 rng(5);
  const char alleles[] = {'0', '1', '2', '3', '4', '.', 'x', '\r', '\0', '\xff'};
  const char changes[] = {' ', '\t', '\n', ':', '/', '|', '\r', '0', '.', '\0'};
  int accepted = 0;
  for (int round = 0; round < 6000; ++round) {
    const int samples = round % 7 == 0 ? 17 + static_cast<int>(rng() % 200) : 1 + round % 40;
    std::string calls;
    for (int s = 0; s < samples; ++s) {
      calls += alleles[rng() % 10];
      calls += rng() % 2 ? '/' : '|';
      calls += alleles[rng() % 10];
      calls += s + 1 == samples ? '\n' : '\t';
    }
    const bool changed = round % 2 == 1;
    if (changed) calls[rng() % calls.size()] = changes[rng() % 10];
    std::vector<uint8_t> fast(samples, 99), plain(samples, 77);
    const bool fast_ok = fixed_width_sums(calls.data(), samples, fast.data());
    ASSERT_EQ(fast_ok, fixed_width_sums_plain(calls.data(), samples, plain.data())) << round;
    ASSERT_TRUE(fast_ok || changed) << round;
    accepted += fast_ok;
    for (int s = 0; s < (fast_ok ? samples : 0); ++s) {
      const uint8_t a = calls[4 * s], b = calls[4 * s + 2];
      ASSERT_EQ(fast[s], genotype_code_table[a] + genotype_code_table[b]) << round << " " << s;
      ASSERT_EQ(plain[s], fast[s]);
    }
  }
  EXPECT_GT(accepted, 3000);  // many changes keep the layout (an allele byte, '/' for '|')
}

}  // namespace
