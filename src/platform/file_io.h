// Files the add-in reads and writes. Reads map the whole file; writes go to a
// scratch file in the target's folder that is renamed into place only when
// complete, so a failure never leaves a half-written file or destroys the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/error.h"

namespace zavo {

// A regular file opened for reading: its descriptor (the caller closes it)
// and its size.
struct OpenedFile {
  int fd = -1;
  uint64_t size = 0;
};
Result<OpenedFile> OpenForReading(const std::string& path);

// A regular file mapped read-only for the life of the object.
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

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
};

enum class Durability {
  Flushed,  // data reaches the disk before the rename: the user's files
  Renamed,  // rename only: a hand-over file the host reads at once
};

// Scratch file beside `target`; Commit renames it over `target` in one step.
// Destroying an uncommitted AtomicFile removes the scratch file.
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
  const std::string& scratch() const { return scratch_; }

  Result<void> Write(const void* data, size_t size);
  Result<void> Commit(Durability durability);

  // The message for a failed write: names the file and the system's reason.
  Error WriteError(int error_number) const;

 private:
  AtomicFile(std::string target, std::string scratch, int fd);
  void Discard();

  std::string target_;
  std::string scratch_;
  int fd_ = -1;
};

// The folder part of a path, ending in "/" ("" for a bare file name).
std::string FolderOf(const std::string& path);

}  // namespace zavo
