#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zavo {
namespace {

Error ReadError(const std::string& what, const std::string& path, const std::string& reason) {
  return Error(ErrorKind::Io, what + " " + path + ": " + reason);
}

// Up to `count` bytes from `fd`; fewer only at the end of the file. The
// buffer starts at `expected` bytes and grows only for a file longer than
// that: zeroing the whole limit at every start cost a fresh page of memory
// for each 4 KiB of it, for a file of a few hundred bytes.
Result<std::string> ReadUpTo(int fd, size_t count, size_t expected, const std::string& path) {
  std::string bytes(std::clamp<size_t>(expected, 1, count), '\0');
  size_t filled = 0;
  while (filled < count) {
    if (filled == bytes.size()) bytes.resize(std::min(count, 2 * bytes.size()));
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadError("cannot read", path, std::strerror(errno));
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace

std::optional<std::string_view> LineReader::ReadLine() {
  if (position_ >= text_.size()) return std::nullopt;
  const size_t end = std::min(text_.find('\r', position_), text_.size());
  const std::string_view line = text_.substr(position_, end - position_);
  position_ = end + 1;
  if (end < text_.size() && position_ < text_.size() && text_[position_] == '\n') ++position_;
  ++line_number_;
  return line;
}

Result<TextHead> ReadTextHead(const std::string& path, size_t limit, Links links) {
  const int no_follow = links == Links::Refuse ? O_NOFOLLOW : 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | no_follow);
  if (fd < 0 && errno == ELOOP && no_follow != 0) {
    return ReadError("cannot read", path, "it is a symbolic link");
  }
  if (fd < 0) return ReadError("cannot open", path, std::strerror(errno));
  struct stat st {};
  const bool examined = ::fstat(fd, &st) == 0;
  if (!examined || !S_ISREG(st.st_mode)) {
    const std::string why = examined ? "not a regular file" : std::strerror(errno);
    ::close(fd);
    return ReadError("cannot read", path, why);
  }
  // One byte more than the limit tells whether the file goes on.
  const auto size = static_cast<uint64_t>(st.st_size);
  auto bytes = ReadUpTo(fd, limit + 1, std::min<uint64_t>(size, limit) + 1, path);
  ::close(fd);
  if (!bytes) return bytes.error();
  TextHead head{std::move(bytes.value()), false};
  if (head.text.size() > limit) {
    // A line cut at the limit would read as another, shorter line.
    head.text.resize(limit);
    const size_t last_end = head.text.rfind('\r');
    head.text.resize(last_end == std::string::npos ? 0 : last_end + 1);
    head.cut = true;
  }
  return head;
}

void AppendLine(std::string& text, std::string_view line) {
  text += line;
  text += kLineEnd;
}

Result<void> ReplaceFile(const std::string& path, std::string_view bytes) {
  ZAVO_TRY_ASSIGN(AtomicFile file, AtomicFile::Create(path, Links::Refuse));
  ZAVO_TRY(file.Write(bytes.data(), bytes.size()));
  return file.Commit(Durability::Flushed);
}

}  // namespace zavo
