// Preloaded (LD_PRELOAD): every read of the file whose path ends in
// ZAVO_FAIL_READS_OF fails as a bad disk block makes it fail (EIO), or, with
// ZAVO_FAIL_READS_AS=end, comes back empty while the file keeps its size; in
// the program, its core and its modules alike.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

bool Failing(int fd) {
  const char* name = std::getenv("ZAVO_FAIL_READS_OF");
  char link[32], path[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = name != nullptr ? ::readlink(link, path, sizeof path) : -1;
  return length > 0 && std::string_view(path, static_cast<size_t>(length)).ends_with(name);
}

ssize_t Fail() {
  const char* as = std::getenv("ZAVO_FAIL_READS_AS");
  if (as != nullptr && std::string_view(as) == "end") return 0;
  errno = EIO;
  return -1;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  static const auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
  return Failing(fd) ? Fail() : next(fd, buffer, count);
}

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static const auto next = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  return Failing(fd) ? Fail() : next(fd, buffer, count, offset);
}
