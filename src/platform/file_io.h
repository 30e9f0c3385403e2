// Files the add-in reads and writes. Reads copy the pieces a reader needs
// with pread into buffers of its own; writes go to a scratch file in the
// target's folder that is renamed into place only when complete, so a failure
// never leaves a half-written file or destroys the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/error.h"

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

// Why `path` cannot be read as a picture or settings file, if it exists and
// is not a regular file; a missing file passes (opening it says so later).
Result<void> CheckNotSpecialFile(const std::string& path);

// The error for a file that shrank under a reader: another program cut it short.
Error FileCutShortError(const std::string& path);

// A regular file open for reading at any offset, in pieces the reader
// chooses. Another program may cut the file short meanwhile: a read that
// finds the file shorter than it was fails with FileCutShortError, a read
// the system refuses with its own reason; neither hands back stale bytes.
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
  Error EndedEarly() const;

  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// A regular file mapped read-only for the life of the object, for the TIFF
// reader. Another program may cut the file short while we read it; the pages
// past its new end then read as zeros instead of killing the process with
// SIGBUS, and Intact() says so afterwards.
class MappedFile {
 public:
  // `populate` reads the whole file in at once, which is fastest when all of
  // it is needed; without it pages come in as they are touched.
  static Result<MappedFile> Open(const std::string& path, bool populate = true);

  MappedFile() = default;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  std::span<const uint8_t> bytes() const { return {data_, size_}; }

  // The mapped file, open for reading while it is mapped (-1 when nothing
  // is): for a reader that copies large pieces out with pread, which costs
  // far less than touching the mapping's pages one by one.
  int descriptor() const { return fd_; }

  // Fails, naming `path`, when the file was cut short while mapped: what was
  // read from it since is not the file's content.
  Result<void> Intact(const std::string& path) const;

 private:
  void Unmap();

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  int guard_ = -1;  // the SIGBUS guard's slot for this mapping
  int fd_ = -1;
};

enum class Durability {
  Flushed,  // data reaches the disk before the rename: the user's files
  Renamed,  // rename only: a hand-over file the host reads at once
};

// Scratch file beside `target`; Commit renames it over `target` in one step.
// Destroying an uncommitted AtomicFile removes the scratch file. Only a
// regular file is replaced; a symbolic link is kept and the file it names is
// replaced. Messages name `target` as the caller gave it.
class AtomicFile {
 public:
  // Scratch name chosen here, unique in the target's folder.
  static Result<AtomicFile> Create(const std::string& target);

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
};

// The folder part of a path, ending in "/" ("" for a bare file name).
std::string FolderOf(const std::string& path);

}  // namespace zavo
