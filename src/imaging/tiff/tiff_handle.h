// The one seam to libtiff: handles that close themselves, opened with our own
// per-handle message handlers and allocation cap, over memory or a descriptor.
#pragma once

#include <sys/types.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imaging/progress.h"
#include "platform/error.h"

namespace zavo {

// What libtiff said on one handle. Any error fails the load or save; warnings
// are passed on, each once, the first few only.
class TiffMessages {
 public:
  explicit TiffMessages(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  bool failed() const { return !first_error_.empty() || error_lost_; }
  const std::string& first_error() const { return first_error_; }
  // How many errors and warnings libtiff has sent, kept or not.
  uint64_t said() const { return said_; }

  // The first libtiff error if there was one, else `action` ("cannot read row
  // 7"), as "TIFF: <what>: <name>".
  Error Failure(const std::string& action) const;
  // A refusal of our own: "TIFF: <what>: <name>".
  Error Refusal(ErrorKind kind, const std::string& what) const;

  void MoveWarningsTo(Warnings* warnings);
  // Tags whose value libtiff refused as it read the directory, where the
  // picture is sound without them (see OnError).
  struct RefusedTag {
    std::string tag;    // libtiff's name: "Orientation"
    std::string value;  // as libtiff printed it; empty for an empty array
  };
  const std::vector<RefusedTag>& refused_tags() const { return refused_tags_; }
  // A warning of our own, passed on like libtiff's (but never capped).
  void Warn(const std::string& text);
  // Whether a warning kept so far holds `part` (libtiff's name a tag, say).
  bool Warned(const std::string& part) const;

  // Called from inside libtiff (C): no exception may leave them.
  static int OnError(TIFF*, void* self, const char* module, const char* format,
                     va_list args) noexcept;
  static int OnWarning(TIFF*, void* self, const char* module, const char* format,
                       va_list args) noexcept;

 private:
  std::string name_;
  std::string first_error_;
  std::vector<std::string> warnings_;
  std::vector<RefusedTag> refused_tags_;
  uint64_t said_ = 0;
  bool error_lost_ = false;  // an error came but its text could not be kept
};

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// Where libtiff's client procedures read a TIFF from: bytes in memory, or an
// open file read with pread into buffers libtiff or we own. Nothing is ever
// mapped, so a file that shrinks under us costs a failed read, not a signal,
// and memory follows the strips read, not the file. Reads end at `size`, the
// file's size when it was opened, as they would at the end of the file.
struct TiffInput {
  using ReadAt = ssize_t (*)(int fd, void* buffer, size_t count, off_t offset);

  std::span<const uint8_t> bytes;  // the data, when there is no file
  int fd = -1;                     // the file, read with `read_at`
  uint64_t size = 0;
  uint64_t position = 0;
  ReadAt read_at = ::pread;  // tests put one here that fails

  // libtiff's raw buffer for an uncompressed tile (see OpenTiffForReading).
  std::unique_ptr<uint8_t[]> raw_tile;

  // What went wrong with the file itself; libtiff only says "Read error".
  int read_error = 0;      // errno of a failed read or fstat
  bool cut_short = false;  // it ended before `size`: another program shrank it

  static TiffInput Memory(std::span<const uint8_t> bytes) {
    TiffInput input;
    input.bytes = bytes;
    input.size = bytes.size();
    return input;
  }
  static TiffInput File(int fd, uint64_t size, ReadAt read_at) {
    TiffInput input;
    input.fd = fd;
    input.size = size;
    input.read_at = read_at;
    return input;
  }
  // The same source for another handle, read from the start.
  TiffInput Again() const {
    TiffInput input = fd >= 0 ? File(fd, size, read_at) : Memory(bytes);
    return input;
  }

  bool failed() const { return read_error != 0 || cut_short; }
  // Takes on the first failure `other` met, if this one met none.
  void NoteFailureOf(const TiffInput& other);
  // The error naming `path` for a failed read of the file, which outweighs
  // whatever libtiff made of the bytes that did not come.
  Error Failure(const std::string& path) const;
};

// Opens `input` (which must outlive the handle) and reads its first directory.
TiffPtr OpenTiffForReading(TiffInput* input, TiffMessages* messages);
// Opens a new, empty file for writing; the handle owns `fd` and closes it.
TiffPtr OpenTiffForWriting(int fd, TiffMessages* messages);

}  // namespace zavo
