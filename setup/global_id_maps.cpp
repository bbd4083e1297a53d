#include "setup/global_id_maps.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using GlobalIdMaps::id_to_name;
using GlobalIdMaps::name_to_id;
using GlobalIdMaps::next_id;

int32_t intern_name(const char* name) {
  std::string key(name);
  auto found = name_to_id.find(key);
  if (found != name_to_id.end()) return found->second;
  name_to_id.emplace(key, next_id);
  // The number may already carry a name (an empty one left by name_of_id).
  id_to_name[next_id] = key;
  return next_id++;
}

const char* name_of_id(int32_t id) { return id_to_name[id].c_str(); }

void init_missing_codes() {
  intern_name("0");
  // "-9" reads as number 0 (also "0"'s number when "0" was the first name
  // interned), and number -9 reads back as "0".
  name_to_id["-9"] = 0;
  id_to_name[-9] = std::string(1, '0');  // not = "0": GCC 12 -O3 reports a false -Wrestrict
}

int32_t max_name_length() {
  size_t longest = 3;
  for (const auto& entry : name_to_id) {
    longest = std::max(longest, std::strlen(entry.first.c_str()));
  }
  return static_cast<int32_t>(longest);
}

void noop() {}

char* copy_bytes(const char* source, int32_t n) {
  char* block = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (block == nullptr) {
    std::perror("malloc");
    std::exit(1);
  }
  if (n > 0) std::memcpy(block, source, static_cast<size_t>(n));
  return block;
}
