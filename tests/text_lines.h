// The lines of a text, and of a report in sorted order (pair workers
// interleave their rows and segment lines).
#pragma once
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines = lines_of(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}
