#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

// The kernel's protected_symlinks rule. The kernel applies it only to links
// it follows itself, and never to a rename's target; links here are read and
// renamed onto by this code, so it applies the rule on its own. In a sticky
// folder that everyone may write, other users cannot remove or replace the
// caller's entries, so a link that passes cannot be swapped for another.
Result<void> CheckLinkMayBeFollowed(const std::string& link, uid_t link_owner,
                                    const std::string& path) {
  const std::string folder = FolderOf(link).empty() ? "." : FolderOf(link);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return IoError("cannot follow the link", path, errno);
  const bool shared = (st.st_mode & S_ISVTX) != 0 && (st.st_mode & S_IWOTH) != 0;
  if (!shared || link_owner == ::geteuid() || link_owner == st.st_uid) return {};
  return Error(ErrorKind::Io, "cannot write " + path + ": it is a symbolic link that user " +
                                  std::to_string(link_owner) + " put in " + folder +
                                  ", a folder everyone may write; it is not followed");
}

// Where a write to `path` lands. A symbolic link is followed to the file it
// names, so the link stays a link and the file behind it is replaced; the
// kernel's own limit on links followed in a row applies.
Result<std::string> FollowLinks(const std::string& path) {
  constexpr int kMaxLinksFollowed = 40;
  std::string resolved = path;
  for (int followed = 0; followed <= kMaxLinksFollowed; ++followed) {
    struct stat st {};
    if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return resolved;
    ZAVO_TRY(CheckLinkMayBeFollowed(resolved, st.st_uid, path));
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(resolved.c_str(), buffer, sizeof buffer);
    if (length < 0) return IoError("cannot follow the link", path, errno);
    if (static_cast<size_t>(length) >= sizeof buffer) {
      return IoError("cannot follow the link", path, ENAMETOOLONG);
    }
    const std::string link(buffer, static_cast<size_t>(length));
    resolved = !link.empty() && link.front() == '/' ? link : FolderOf(resolved) + link;
  }
  return IoError("cannot follow the link", path, ELOOP);
}

// Only a regular file is ever replaced: renaming over a device node or a
// FIFO would swap the node itself for a plain file.
Result<void> CheckTargetIsReplaceable(const std::string& target, const std::string& resolved) {
  if (target.empty() || target.back() == '/') {
    return Error(ErrorKind::Io, "cannot write \"" + target + "\": no file name given");
  }
  struct stat st {};
  if (::stat(resolved.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  if (S_ISDIR(st.st_mode)) {
    return Error(ErrorKind::Io, "cannot write " + target + ": it is a folder");
  }
  return Error(ErrorKind::Io, "cannot write " + target + ": not a regular file");
}

// Where the write lands. A link put in the target's place after this check
// is replaced by the rename, never written through: rename does not follow.
Result<std::string> Destination(const std::string& target, Links links) {
  if (links == Links::Follow) return FollowLinks(target);
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    return Error(ErrorKind::Io, "cannot write " + target + ": it is a symbolic link");
  }
  return target;
}

// The rename would replace a read-only file as readily as any other.
Result<void> CheckMayReplace(const std::string& target, const std::string& destination) {
  if (::faccessat(AT_FDCWD, destination.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT) {
    return {};
  }
  return IoError("cannot write", target, errno);
}

// The scratch name is the target's own name hidden and marked, cut short
// where the whole would pass the folder's limit on a name's length (at a
// character boundary, so the name stays valid UTF-8).
std::string ScratchPattern(const std::string& destination) {
  constexpr const char* kMark = ".zavo-XXXXXX";
  const std::string folder = FolderOf(destination);
  const std::string name = destination.substr(folder.size());
  long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (limit <= 0) limit = NAME_MAX;
  const size_t room = static_cast<size_t>(limit) - 1 - std::strlen(kMark);
  size_t keep = std::min(name.size(), room);
  while (keep > 0 && keep < name.size() && (static_cast<uint8_t>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return folder + "." + name.substr(0, keep) + kMark;
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

FileReader::FileReader(std::string path, int fd, uint64_t size)
    : path_(std::move(path)), fd_(fd), size_(size) {}

FileReader::FileReader(FileReader&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)) {}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

Result<FileReader> FileReader::Open(const std::string& path) {
  ZAVO_TRY_ASSIGN(const OpenedFile opened, OpenForReading(path));
  return FileReader(path, opened.fd, opened.size);
}

Result<void> FileReader::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  if (offset > size_ || out.size() > size_ - offset) {
    return Error(ErrorKind::Internal, "cannot read " + path_ + ": a read past its end was asked");
  }
  while (!out.empty()) {
    const ssize_t got = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadRefusedError(path_, errno);
    if (got == 0) return ReadEndedEarlyError(fd_, size_, path_);
    out = out.subspan(static_cast<size_t>(got));
    offset += static_cast<uint64_t>(got);
  }
  return {};
}

AtomicFile::AtomicFile(std::string target, std::string destination, std::string scratch, int fd)
    : target_(std::move(target)),
      destination_(std::move(destination)),
      scratch_(std::move(scratch)),
      fd_(fd),
      cleanup_(scratch_) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      destination_(std::move(other.destination_)),
      scratch_(std::move(other.scratch_)),
      fd_(std::exchange(other.fd_, -1)),
      cleanup_(std::move(other.cleanup_)) {}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(scratch_.c_str());
  fd_ = -1;
}

Result<AtomicFile> AtomicFile::Create(const std::string& target, Links links) {
  ZAVO_TRY_ASSIGN(const std::string destination, Destination(target, links));
  ZAVO_TRY(CheckTargetIsReplaceable(target, destination));
  ZAVO_TRY(CheckMayReplace(target, destination));
  std::string pattern = ScratchPattern(destination);
  const EndingSignalsHeld held;  // until the AtomicFile has registered its scratch file
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return IoError("cannot write a file in the folder of", target, errno);
  ::fchmod(fd, ModeFor(destination));
  return AtomicFile(target, destination, pattern, fd);
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
  if (::rename(scratch_.c_str(), destination_.c_str()) != 0) {
    const int saved = errno;
    ::unlink(scratch_.c_str());
    return IoError("cannot replace", target_, saved);
  }
  return {};
}

}  // namespace zavo
