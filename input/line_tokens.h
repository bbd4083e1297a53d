// Splits one input line in place into tokens separated by blanks and tabs,
// writing a NUL over the character that ends each token.
#pragma once
#include <cstdint>

// The tokenizer's byte rules: blanks and tabs separate tokens; blanks, tabs
// and newlines end one.
constexpr bool separates_tokens(unsigned char c) { return c == ' ' || c == '\t'; }
constexpr bool ends_token(unsigned char c) { return separates_tokens(c) || c == '\n'; }

class LineTokens {
 public:
  static constexpr int32_t kTokenRoom = 30000;

  LineTokens();
  ~LineTokens();
  LineTokens(const LineTokens&) = delete;
  LineTokens& operator=(const LineTokens&) = delete;

  // Fills token[] and length[] for the first count tokens and returns count.
  // The NUL of a token that reaches the end of the range is written at
  // line[line_length], so the buffer must have that byte.
  int32_t split(char* line, int32_t line_length);
  // The byte-by-byte reference of split: the same tokens, NULs and count.
  int32_t split_plain(char* line, int32_t line_length);
  // When the line_length bytes at line are exactly `columns` non-empty
  // columns, each ended by one tab, records them as split would (the first
  // `columns` tokens of a line that goes on after them) and returns true.
  // Otherwise returns false and writes nothing into the line.
  bool split_tab_columns(char* line, int32_t line_length, int32_t columns);

  int32_t capacity = 120000;
  int32_t* buffer = nullptr;  // 120000 int32 from malloc; unused
  char** token;               // kTokenRoom entries, grown for longer lines
  int32_t* length;

 private:
  char* token_room_[kTokenRoom];
  int32_t length_room_[kTokenRoom];
  int32_t room_ = kTokenRoom;
  bool grown_ = false;
  void grow();
  void record(int32_t count, char* p, char* q);
};
