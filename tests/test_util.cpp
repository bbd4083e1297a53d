#include "tests/test_util.h"

#include <fcntl.h>
#include <htslib/bgzf.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

TempDir::TempDir() {
  char tmpl[] = "/tmp/palvane_test_XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void write_gzip(const std::string& path, const std::string& content) {
  gzFile f = gzopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("gzopen failed");
  if (!content.empty()) gzwrite(f, content.data(), static_cast<unsigned>(content.size()));
  gzclose(f);
}

void write_bgzf(const std::string& path, const std::string& content) {
  BGZF* f = bgzf_open(path.c_str(), "w");
  if (!f) throw std::runtime_error("bgzf_open failed");
  bool ok = content.empty() || bgzf_write(f, content.data(), content.size()) >= 0;
  if (bgzf_close(f) != 0 || !ok) throw std::runtime_error("bgzf write failed");
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& dir, int timeout_seconds) {
  std::string out_path = dir + "/.run_stdout";
  std::string err_path = dir + "/.run_stderr";
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  RunResult result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  int wstatus = 0;
  for (;;) {
    pid_t r = waitpid(pid, &wstatus, WNOHANG);
    if (r == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      result.status = -1;
      result.out = read_file(out_path);
      result.err = read_file(err_path);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  else if (WIFSIGNALED(wstatus)) result.status = 128 + WTERMSIG(wstatus);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return result;
}

RunResult run_palvane(const TempDir& dir, const std::vector<std::string>& args,
                      int timeout_seconds) {
  return run_program(PALVANE_BIN, args, dir.path, timeout_seconds);
}

RunResult run_simulator(const TempDir& dir, const std::vector<std::string>& args) {
  return run_program(PALVANE_SIMULATE_BIN, args, dir.path, 600);
}

void write_packed(const std::string& path, const std::string& content, Packing packing) {
  if (packing == Packing::kPlain) write_file(path, content);
  if (packing == Packing::kGzip) write_gzip(path, content);
  if (packing == Packing::kBgzf) write_bgzf(path, content);
}
