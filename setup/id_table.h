// The --subset sample list: names numbered from 1 in order of first appearance.
#pragma once
#include <cstdint>
#include <map>
#include <string>

struct IdTable {
  std::map<std::string, int32_t> name_to_id;
  std::map<int32_t, std::string> id_to_name;  // reverse of name_to_id
  int32_t next_id = 1;

  // Reads every white-space-separated word of the file, echoing each as
  // "R= .%s.\n". Exits with status 1 when the file cannot be opened.
  void read_file(const char* path);
  // The name's number, or -1 when absent. Never changes the table.
  int32_t lookup(const char* name) const;
};
