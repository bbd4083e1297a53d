// Preloaded by the fault runs.
// - write() on a report file (a path ending in .ibd or .segments) behaves as
//   on a disk with PALVANE_DISK_ROOM bytes free, shared by both reports: a
//   write that does not fit is cut short, and every write after that fails
//   with ENOSPC. With PALVANE_WRITES_CUT set instead, every other write to a
//   report is interrupted by a signal (EINTR) and the others write all but
//   their last byte.
// - With PALVANE_READ_HALF set, read() on the input (a path ending in "/in")
//   fails with EIO once half of the file has been read.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<long> disk_used{0};
std::atomic<long> report_writes{0};
std::atomic<long> input_read{0};

bool path_ends_with(int fd, const char* suffix) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path);
  const size_t m = strlen(suffix);
  return n > 0 && static_cast<size_t>(n) >= m && memcmp(path + n - m, suffix, m) == 0;
}
}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t n) {
  static const auto real_write = reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(
      dlsym(RTLD_NEXT, "write"));
  const char* room_text = getenv("PALVANE_DISK_ROOM");
  const bool cut = getenv("PALVANE_WRITES_CUT") != nullptr;
  if (!(room_text || cut) || fd <= 2 || n == 0 ||
      !(path_ends_with(fd, ".ibd") || path_ends_with(fd, ".segments")))
    return real_write(fd, data, n);
  if (cut && report_writes.fetch_add(1) % 2 == 0) {
    errno = EINTR;
    return -1;
  }
  if (cut) return real_write(fd, data, n > 1 ? n - 1 : n);
  const long room = atol(room_text);
  const long before = disk_used.fetch_add(static_cast<long>(n));
  if (before >= room) {
    errno = ENOSPC;
    return -1;
  }
  const size_t left = static_cast<size_t>(room - before);
  return real_write(fd, data, left < n ? left : n);
}

extern "C" ssize_t read(int fd, void* data, size_t n) {
  static const auto real_read =
      reinterpret_cast<ssize_t (*)(int, void*, size_t)>(dlsym(RTLD_NEXT, "read"));
  struct stat st;
  if (!getenv("PALVANE_READ_HALF") || fd <= 2 || !path_ends_with(fd, "/in") || fstat(fd, &st) != 0)
    return real_read(fd, data, n);
  const long room = st.st_size / 2;
  const long before = input_read.load();
  if (before >= room) {
    errno = EIO;
    return -1;
  }
  const size_t left = static_cast<size_t>(room - before);
  const ssize_t got = real_read(fd, data, left < n ? left : n);
  if (got > 0) input_read.fetch_add(got);
  return got;
}
