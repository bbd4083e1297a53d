#include "tests/test_util.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
  char pattern[] = "/tmp/palvane_test_XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Through the shell, so that timeout(1) ends a run that hangs.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& dir, const std::vector<std::string>& env,
                      int timeout_seconds) {
  std::ostringstream command;
  auto quoted = [&command](const std::string& word) {
    command << " '";
    for (char c : word) command << (c == '\'' ? "'\\''" : std::string(1, c));
    command << "'";
  };
  command << "cd";
  quoted(dir);
  command << " && env";
  for (const std::string& setting : env) quoted(setting);
  command << " timeout -s KILL " << timeout_seconds;
  quoted(program);
  for (const std::string& arg : args) quoted(arg);
  command << " < /dev/null > .run_stdout 2> .run_stderr";
  const int status = std::system(command.str().c_str());
  RunResult result{WEXITSTATUS(status), read_file(dir + "/.run_stdout"),
                   read_file(dir + "/.run_stderr")};
  result.status = result.status == 137 ? -1 : result.status;
  for (const char* name : {"/.run_stdout", "/.run_stderr"}) std::filesystem::remove(dir + name);
  return result;
}
