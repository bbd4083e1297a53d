#include "setup/id_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// White space as the "C" locale's isspace sees it.
bool is_blank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads the next run of non-blank bytes, of any length, after skipping
// blanks. False at the end of the file (or on a read error) before a word.
bool read_word(FILE* file, std::string& word) {
  word.clear();
  int c;
  do c = std::getc(file);
  while (c != EOF && is_blank(c));
  if (c == EOF) return false;
  while (c != EOF && !is_blank(c)) {
    word.push_back(static_cast<char>(c));
    c = std::getc(file);
  }
  // Names are C strings: a NUL byte inside a word ends the name there.
  word.resize(std::strlen(word.c_str()));
  return true;
}
}  // namespace

void IdTable::read_file(const char* path) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    std::fprintf(stderr, "Cannot open file %s\n", path);
    std::exit(1);
  }
  std::string word;
  while (read_word(file, word)) {
    std::printf("R= .%s.\n", word.c_str());
    if (name_to_id.emplace(word, next_id).second) {
      id_to_name[next_id] = word;
      ++next_id;
    }
  }
  std::fclose(file);
}

int32_t IdTable::lookup(const char* name) const {
  auto found = name_to_id.find(name);
  return found == name_to_id.end() ? -1 : found->second;
}
