// Preloaded into palvane by the fault tests: write() on a report file (a
// path ending in .ibd or .segments) behaves as on a disk with
// PALVANE_DISK_ROOM bytes free, shared by both reports: a write that does
// not fit is cut short, and every write after that fails with ENOSPC.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
using WriteFunction = ssize_t (*)(int, const void*, size_t);

std::atomic<long> disk_used{0};

bool ends_with(const char* text, size_t n, const char* suffix) {
  const size_t m = strlen(suffix);
  return n >= m && memcmp(text + n - m, suffix, m) == 0;
}

bool is_report(int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path);
  return n > 0 && (ends_with(path, static_cast<size_t>(n), ".ibd") ||
                   ends_with(path, static_cast<size_t>(n), ".segments"));
}
}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t n) {
  static const WriteFunction real_write =
      reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
  static const long room = getenv("PALVANE_DISK_ROOM") ? atol(getenv("PALVANE_DISK_ROOM")) : 0;
  if (fd <= 2 || n == 0 || !is_report(fd)) return real_write(fd, data, n);
  const long before = disk_used.fetch_add(static_cast<long>(n));
  if (before >= room) {
    errno = ENOSPC;
    return -1;
  }
  const size_t left = static_cast<size_t>(room - before);
  return real_write(fd, data, left < n ? left : n);
}
