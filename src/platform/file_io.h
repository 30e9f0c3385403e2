// Files the add-in reads and writes. Reads copy the pieces a reader needs
// with pread into buffers of its own; writes go to a scratch file in the
// target's folder that is renamed into place only when complete, so a failure
// never leaves a half-written file or destroys the old one.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/error.h"
#include "platform/read_failure.h"
#include "platform/scratch_cleanup.h"

namespace zavo {

// A regular file opened for reading: its descriptor (the caller closes it)
// and its size. Folders, FIFOs, devices and sockets are refused before they
// are opened, and the open itself cannot wait (on a FIFO without a writer, a
// terminal, a tape): the caller gets an answer at once.
struct OpenedFile {
  int fd = -1;
  uint64_t size = 0;
};
Result<OpenedFile> OpenForReading(const std::string& path);

// Closes the descriptor of an OpenedFile when a reader is done with it.
class ClosingFile {
 public:
  explicit ClosingFile(int fd) : fd_(fd) {}
  ~ClosingFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  ClosingFile(const ClosingFile&) = delete;
  ClosingFile& operator=(const ClosingFile&) = delete;

 private:
  int fd_;
};

// Why `path` cannot be read as a picture or settings file, if it exists and
// is not a regular file; a missing file passes (opening it says so later).
Result<void> CheckNotSpecialFile(const std::string& path);

// A regular file open for reading at any offset, in pieces the reader
// chooses. Another program may cut the file short meanwhile: a read that
// ends early fails with ReadEndedEarlyError, a read the system refuses with
// its own reason; neither hands back stale bytes.
class FileReader {
 public:
  static Result<FileReader> Open(const std::string& path);

  FileReader(FileReader&& other) noexcept;
  FileReader& operator=(FileReader&&) = delete;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader();

  const std::string& path() const { return path_; }
  // The file's size when it was opened.
  uint64_t size() const { return size_; }

  // Fills `out` with the bytes from `offset` on; they must lie within size().
  Result<void> ReadAt(uint64_t offset, std::span<uint8_t> out) const;

 private:
  FileReader(std::string path, int fd, uint64_t size);

  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

enum class Durability {
  Flushed,  // data reaches the disk before the rename: the user's files
  Renamed,  // rename only: a hand-over file the host reads at once
};

// What a write does when its target is a symbolic link.
enum class Links {
  // Replaces the file the link names, the link kept, as the kernel's
  // protected_symlinks would follow it: not a link that another user put in
  // a sticky folder everyone may write (/tmp), unless that user owns the folder.
  Follow,
  // Refuses it: for files whose place alone says whose they are (the settings).
  Refuse,
};

// Scratch file beside `target`; Commit renames it over `target` in one step.
// Destroying an uncommitted AtomicFile removes the scratch file. Only a
// regular file is replaced, and only one the caller may write: renaming
// needs no more than the folder's permission, but a read-only file is its
// owner's choice. Messages name `target` as the caller gave it.
class AtomicFile {
 public:
  // Scratch name chosen here, unique in the target's folder.
  static Result<AtomicFile> Create(const std::string& target, Links links = Links::Follow);

  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  int fd() const { return fd_; }
  const std::string& target() const { return target_; }

  Result<void> Write(const void* data, size_t size);
  Result<void> Commit(Durability durability);

  // The message for a failed write: names the file and the system's reason.
  Error WriteError(int error_number) const;

 private:
  AtomicFile(std::string target, std::string destination, std::string scratch, int fd);
  void Discard();

  std::string target_;
  std::string destination_;  // the file replaced: the target, links followed
  std::string scratch_;
  int fd_ = -1;
  ScratchCleanup cleanup_;  // removes the scratch file if a signal ends the process
};

// The folder part of a path, ending in "/" ("" for a bare file name).
std::string FolderOf(const std::string& path);

}  // namespace zavo
