// The one seam to libtiff: handles that close themselves, opened with our own
// per-handle message handlers and allocation cap, over memory or a descriptor.
#pragma once

#include <tiffio.h>

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
  // A warning of our own, passed on like libtiff's (but never capped).
  void Warn(const std::string& text);

  // Called from inside libtiff (C): no exception may leave them.
  static int OnError(TIFF*, void* self, const char* module, const char* format,
                     va_list args) noexcept;
  static int OnWarning(TIFF*, void* self, const char* module, const char* format,
                       va_list args) noexcept;

 private:
  std::string name_;
  std::string first_error_;
  std::vector<std::string> warnings_;
  uint64_t said_ = 0;
  bool error_lost_ = false;  // an error came but its text could not be kept
};

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// The bytes of a TIFF file as libtiff's client procedures see them.
struct TiffMemory {
  std::span<const uint8_t> bytes;
  uint64_t position = 0;
  // The bytes are a file mapping whose pages may be dropped once decoded
  // (they would be read from the file again if needed).
  bool file_mapping = false;
  // The mapped file's descriptor, -1 when unknown, and whether this handle
  // reads through it with libtiff told that nothing is mapped. A thread
  // copies each piece out of the page cache in one pread, which costs a
  // fraction of what touching the mapping's pages does (faults, TLB misses,
  // and handing them back).
  int fd = -1;
  bool read_through_fd = false;
};

// Hands the pages of a decoded strip or tile back to the system, so a large
// uncompressed file does not stay resident beside its picture.
void ReleaseDecodedStrip(TIFF* tif, uint32_t strip);

// Opens `memory` (which must outlive the handle) and reads its first directory.
TiffPtr OpenTiffInMemory(TiffMemory* memory, TiffMessages* messages);
// Opens a new, empty file for writing; the handle owns `fd` and closes it.
TiffPtr OpenTiffForWriting(int fd, TiffMessages* messages);

}  // namespace zavo
