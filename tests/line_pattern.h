// Whole-line matching with POSIX extended regular expressions, to check the
// format of output lines ("[0-9]" for a digit; no "\d").
#pragma once
#include <regex.h>

#include <stdexcept>
#include <string>

class LinePattern {
 public:
  explicit LinePattern(const std::string& pattern) {
    if (regcomp(&compiled_, ("^(" + pattern + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0)
      throw std::invalid_argument("bad line pattern: " + pattern);
  }
  ~LinePattern() { regfree(&compiled_); }
  LinePattern(const LinePattern&) = delete;
  LinePattern& operator=(const LinePattern&) = delete;

  bool matches(const std::string& line) const {
    return regexec(&compiled_, line.c_str(), 0, nullptr, 0) == 0;
  }

 private:
  regex_t compiled_;
};
