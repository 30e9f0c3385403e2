#include "platform/read_failure.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace zavo {

Error ReadRefusedError(const std::string& path, int error_number) {
  return Error(ErrorKind::Io, "cannot read " + path + ": " + std::strerror(error_number));
}

Error FileCutShortError(const std::string& path) {
  return Error(ErrorKind::Truncated,
               "another program cut the file short while it was being read: " + path);
}

// Looked at again now: only a file that shrank since it was opened was cut
// short; saying so of a disk or a file system that failed would send the
// user after another program that does not exist.
Error ReadEndedEarlyError(int fd, uint64_t size_when_opened, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ReadRefusedError(path, errno);
  if (static_cast<uint64_t>(st.st_size) < size_when_opened) return FileCutShortError(path);
  return Error(ErrorKind::Io, "cannot read " + path + ": it gave fewer bytes than it holds");
}

}  // namespace zavo
