#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace zavo {
namespace {

std::string Reason(int error_number) { return std::strerror(error_number); }

Error IoError(const std::string& what, const std::string& path, int error_number) {
  return Error(ErrorKind::Io, what + " " + path + ": " + Reason(error_number));
}

// New files get the mode an ordinary create would give; a replaced file keeps its own.
mode_t ModeFor(const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

Result<void> CheckTargetIsNoFolder(const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return Error(ErrorKind::Io, "cannot write " + target + ": it is a folder");
  }
  if (target.empty() || target.back() == '/') {
    return Error(ErrorKind::Io, "cannot write \"" + target + "\": no file name given");
  }
  return {};
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Result<OpenedFile> OpenForReading(const std::string& path) {
  if (path.empty()) return Error(ErrorKind::Io, "cannot open \"\": no file name given");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return IoError("cannot open", path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    return IoError("cannot read", path, saved);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Error(ErrorKind::Io, "cannot read " + path + ": not a regular file");
  }
  return OpenedFile{fd, static_cast<uint64_t>(st.st_size)};
}

Result<MappedFile> MappedFile::Open(const std::string& path, bool populate) {
  Result<OpenedFile> opened = OpenForReading(path);
  if (!opened) return opened.error();
  MappedFile file;
  file.size_ = static_cast<size_t>(opened->size);
  if (file.size_ > 0) {
    const int flags = MAP_PRIVATE | (populate ? MAP_POPULATE : 0);
    void* map = ::mmap(nullptr, file.size_, PROT_READ, flags, opened->fd, 0);
    if (map == MAP_FAILED) {
      const int saved = errno;
      ::close(opened->fd);
      return IoError("cannot read", path, saved);
    }
    file.data_ = static_cast<const uint8_t*>(map);
    file.mapped_ = true;
  }
  ::close(opened->fd);
  return file;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (mapped_) ::munmap(const_cast<uint8_t*>(data_), size_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

MappedFile::~MappedFile() {
  if (mapped_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

AtomicFile::AtomicFile(std::string target, std::string scratch, int fd)
    : target_(std::move(target)), scratch_(std::move(scratch)), fd_(fd) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      scratch_(std::move(other.scratch_)),
      fd_(std::exchange(other.fd_, -1)) {}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(scratch_.c_str());
  fd_ = -1;
}

Result<AtomicFile> AtomicFile::Create(const std::string& target) {
  ZAVO_TRY(CheckTargetIsNoFolder(target));
  const auto slash = target.rfind('/');
  const std::string folder = FolderOf(target);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = folder + "." + name + ".zavo-XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return IoError("cannot write a file in the folder of", target, errno);
  ::fchmod(fd, ModeFor(target));
  return AtomicFile(target, pattern, fd);
}

Error AtomicFile::WriteError(int error_number) const {
  return IoError("cannot write", target_, error_number);
}

Result<void> AtomicFile::Write(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return WriteError(errno);
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return {};
}

Result<void> AtomicFile::Commit(Durability durability) {
  if (durability == Durability::Flushed && ::fsync(fd_) != 0) {
    const int saved = errno;
    Discard();
    return WriteError(saved);
  }
  if (::close(fd_) != 0) {
    const int saved = errno;
    fd_ = -1;
    ::unlink(scratch_.c_str());
    return WriteError(saved);
  }
  fd_ = -1;
  if (::rename(scratch_.c_str(), target_.c_str()) != 0) {
    const int saved = errno;
    ::unlink(scratch_.c_str());
    return IoError("cannot replace", target_, saved);
  }
  return {};
}

}  // namespace zavo
