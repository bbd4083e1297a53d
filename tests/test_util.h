// Helpers for tests: temporary folders, running the built palvane binary in
// one, and writing plain, gzip and BGZF input files.
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
  int status = -1;  // exit status, or 128 + signal number, or -1 on a timeout
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `program` with `args` inside `dir`, standard input from /dev/null,
// killing it after timeout_seconds.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& dir, int timeout_seconds = 600);
// The same for the built palvane binary.
RunResult run_palvane(const TempDir& dir, const std::vector<std::string>& args,
                      int timeout_seconds = 600);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
void write_gzip(const std::string& path, const std::string& content);  // one gzip member
void write_bgzf(const std::string& path, const std::string& content);  // BGZF with EOF block
enum class Packing { kPlain, kGzip, kBgzf };
// Writes content plain, as one gzip member or as BGZF.
void write_packed(const std::string& path, const std::string& content, Packing packing);
bool file_exists(const std::string& path);

// Runs the cohort generator (tools/simulate_cohort) with args inside dir.
RunResult run_simulator(const TempDir& dir, const std::vector<std::string>& args);
