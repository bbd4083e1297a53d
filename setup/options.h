// The command-line object: the argument words with a consumed flag each,
// option lookup with a fixed number of values, and the --script file (the
// last one named) whose words are appended after the last argument.
#pragma once
#include <string>
#include <vector>

class options {
 public:
  options(int argc, char** argv);
  virtual ~options();

  // 1 when `name` occurs among the unconsumed words (every occurrence and its
  // values are consumed; value[] holds the values of the last one), else 0.
  // Ends the process when an occurrence lacks its nargs values.
  int check_option(const std::string& name, int nargs);
  // Returns when every word after the program name was consumed; otherwise
  // names the first unconsumed word on standard error and exits with status 1.
  void check_unused();
  void read_script(const char* path);
  void print_command_line();

  int n = 0;                      // number of words in args
  std::vector<std::string> args;  // argv words, then script words
  std::vector<int> used;          // consumed flag per word
  static constexpr int kMaxValues = 4;
  const char* value[kMaxValues] = {};  // values of the latest successful lookup
};
