// Helpers for tests: temporary folders, files, and running a built program in one.
#pragma once
#include <string>
#include <vector>

// A fresh folder under /tmp, removed with its contents when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number, or -1 when killed at the time limit
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs program with args inside dir, standard input from /dev/null, with the
// NAME=VALUE settings of env added to the environment; killed after timeout_seconds.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& dir, const std::vector<std::string>& env = {},
                      int timeout_seconds = 120);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
std::vector<std::string> sorted_lines(const std::string& text);
