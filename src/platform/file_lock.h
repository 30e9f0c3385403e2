// An advisory lock on a small file of its own, so that processes writing the
// same files take turns. The lock file is only ever created and locked, never
// written, and it is never removed: removing it would let a waiting process
// lock a file nobody else can see any more.
#pragma once

#include <chrono>
#include <string>

#include "platform/error.h"

namespace zavo {

class FileLock {
 public:
  // Takes the exclusive lock on `path`, creating the file if it is missing,
  // and waits at most `patience` for another holder to let go. Whatever was
  // planted under that name (a link, a FIFO, a folder) is refused, never
  // followed and never waited on.
  static Result<FileLock> Acquire(const std::string& path, std::chrono::milliseconds patience);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&&) = delete;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();  // lets go of the lock

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace zavo
