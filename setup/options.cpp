#include "setup/options.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

options::options(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  n = static_cast<int>(args.size());
  used.assign(args.size(), 0);
  // Every flag is still 0, so each "--script" is found; the last one names the file.
  if (check_option("--script", 1)) {
    const std::string path = value[0];
    read_script(path.c_str());
  }
}

options::~options() = default;

int options::check_option(const std::string& name, int nargs) {
  if (n < 2) return 0;
  int found = 0;
  int i = 1;
  while (i < n) {
    // Compared as C strings: a script word holding a NUL byte matches up to it.
    if (used[i] != 0 || std::strcmp(args[i].c_str(), name.c_str()) != 0) {
      ++i;
      continue;
    }
    used[i] = 1;
    if (i + nargs >= n) {
      std::cout << "Error: Option " << name << " requires " << nargs << " arguments.\n";
      std::exit(1);
    }
    // Values are taken whatever they look like, consumed or not.
    for (int k = 0; k < nargs; ++k) {
      value[k] = args[i + 1 + k].c_str();
      used[i + 1 + k] = 1;
    }
    found = 1;
    i += nargs + 1;
  }
  return found;
}

void options::check_unused() {
  if (n < 2) return;
  for (int i = 1; i < n; ++i) {
    if (used[i] != 0) continue;
    std::cerr << "Error: Option " << args[i] << " not understood.\n"
              << "\nSome command line options were not understood. Exiting. \n";
    std::exit(1);
  }
}

void options::read_script(const char* path) {
  std::ifstream in(path);
  if (in.fail()) {
    std::cout << "Error: Cannot open script file '" << path << "'.\n";
    std::exit(1);
  }
  // Appending may move the strings that value[] points into: remember which
  // words the values are and point at them again afterwards.
  int value_word[kMaxValues];
  for (int k = 0; k < kMaxValues; ++k) {
    value_word[k] = -1;
    for (int i = 0; i < n && value[k] != nullptr; ++i) {
      if (args[i].c_str() == value[k]) value_word[k] = i;
    }
  }
  std::string word;
  while (in >> word) {
    args.push_back(word);
    used.push_back(0);
  }
  n = static_cast<int>(args.size());
  for (int k = 0; k < kMaxValues; ++k) {
    if (value_word[k] >= 0) value[k] = args[value_word[k]].c_str();
  }
}

void options::print_command_line() {
  int i = 1;
  while (i < n) {
    if (std::strcmp(args[i].c_str(), "--script") == 0) {
      i += 2;
      continue;
    }
    std::cout << args[i] << " ";
    ++i;
  }
}
