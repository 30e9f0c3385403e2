#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace zavo {
namespace {

Error LockError(const std::string& path, const std::string& reason) {
  return Error(ErrorKind::Io, "cannot lock " + path + ": " + reason);
}

// Read-only is enough for flock, and lets every user who may store settings
// in a shared folder lock a lock file that another user created.
Result<int> OpenLockFile(const std::string& path) {
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return LockError(path, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return LockError(path, "not a regular file");
  }
  return fd;
}

}  // namespace

Result<FileLock> FileLock::Acquire(const std::string& path, std::chrono::milliseconds patience) {
  ZAVO_TRY_ASSIGN(const int fd, OpenLockFile(path));
  FileLock lock(fd);
  // Polled rather than blocking: a holder that never lets go (anyone who can
  // open the file can lock it) must not hang the caller.
  constexpr auto kPoll = std::chrono::milliseconds(10);
  for (auto waited = std::chrono::milliseconds(0);; waited += kPoll) {
    if (::flock(lock.fd_, LOCK_EX | LOCK_NB) == 0) return lock;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return LockError(path, std::strerror(errno));
    if (waited >= patience) {
      return LockError(
          path, "another process has held it for " + std::to_string(patience.count()) + " ms");
    }
    std::this_thread::sleep_for(kPoll);
  }
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace zavo
