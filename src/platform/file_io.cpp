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

#include "platform/mapping_guard.h"

namespace zavo {
namespace {

#ifdef MADV_POPULATE_READ
constexpr int kPopulateRead = MADV_POPULATE_READ;
#else
constexpr int kPopulateRead = 22;  // Linux 5.14
#endif

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

namespace {

// What a non-regular file is, for the message that refuses it.
const char* KindOfSpecialFile(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a file";
  if (S_ISSOCK(mode)) return "it is a socket, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
  return "it is not a regular file";
}

Error SpecialFileError(const std::string& path, mode_t mode) {
  return Error(ErrorKind::Io, "cannot read " + path + ": " + KindOfSpecialFile(mode));
}

}  // namespace

Result<void> CheckNotSpecialFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  return SpecialFileError(path, st.st_mode);
}

// The stat keeps devices from being opened at all (opening one can rewind a
// tape); O_NONBLOCK keeps a FIFO put in the file's place meanwhile from
// holding the open, and fstat then refuses it.
Result<OpenedFile> OpenForReading(const std::string& path) {
  if (path.empty()) return Error(ErrorKind::Io, "cannot open \"\": no file name given");
  ZAVO_TRY(CheckNotSpecialFile(path));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return IoError("cannot open", path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    return IoError("cannot read", path, saved);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return SpecialFileError(path, st.st_mode);
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
    file.guard_ = GuardMapping(map, file.size_);
    if (file.guard_ < 0) {
      ::close(opened->fd);
      return Error(ErrorKind::Internal, "cannot read " + path + ": too many files mapped at once");
    }
  }
  ::close(opened->fd);
  return file;
}

Error FileCutShortError(const std::string& path) {
  return Error(ErrorKind::Truncated,
               "another program cut the file short while it was being read: " + path);
}

Result<void> MappedFile::Intact(const std::string& path) const {
  if (!MappingWasCut(guard_)) return {};
  return FileCutShortError(path);
}

void MappedFile::Release(size_t from, size_t to) {
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t first = (from + page - 1) / page * page;
  const size_t end = std::min(to, size_) / page * page;
  if (!mapped_ || end <= first) return;
  ::madvise(const_cast<uint8_t*>(data_) + first, end - first, MADV_DONTNEED);
}

void MappedFile::Prefetch(size_t from, size_t to) {
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t first = from / page * page;
  const size_t end = std::min(to, size_);
  if (!mapped_ || end <= first) return;
  // Older kernels lack MADV_POPULATE_READ; the pages then come in as touched.
  ::madvise(const_cast<uint8_t*>(data_) + first, end - first, kPopulateRead);
}

void MappedFile::Unmap() {
  if (!mapped_) return;
  UnguardMapping(guard_);
  ::munmap(const_cast<uint8_t*>(data_), size_);
  mapped_ = false;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)),
      guard_(std::exchange(other.guard_, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, false);
    guard_ = std::exchange(other.guard_, -1);
  }
  return *this;
}

MappedFile::~MappedFile() { Unmap(); }

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

Result<AtomicFile> AtomicFile::CreateWithScratch(const std::string& target,
                                                 const std::string& scratch) {
  ZAVO_TRY(CheckTargetIsNoFolder(target));
  const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, ModeFor(target));
  if (fd < 0) return IoError("cannot create", scratch, errno);
  return AtomicFile(target, scratch, fd);
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
