// Process-wide registry of names and numbers. Built empty before main and
// destroyed at exit; nothing in a run uses it.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace GlobalIdMaps {
extern std::map<std::string, int32_t> name_to_id;
extern std::map<int32_t, std::string> id_to_name;
extern int32_t next_id;
}  // namespace GlobalIdMaps

int32_t intern_name(const char* name);
const char* name_of_id(int32_t id);
void init_missing_codes();
int32_t max_name_length();
void noop();
// A new malloc block of n + 1 bytes holding the n bytes of source (no terminator written).
char* copy_bytes(const char* source, int32_t n);
