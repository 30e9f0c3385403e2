// The pixel array of a BMP file, turned into an Image. Private to the BMP codec.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/bmp_header.h"
#include "imaging/image.h"
#include "imaging/progress.h"
#include "platform/file_io.h"

namespace zavo::bmp {

// The bytes of a BMP file as the pixel decoder asks for them, front to back:
// a file held in memory, or one read a window at a time.
class Bytes {
 public:
  virtual ~Bytes() = default;
  // Up to `size` bytes from `offset` on, fewer only where the data ends;
  // valid until the next call. Fails only when the file cannot be read.
  virtual Result<std::span<const uint8_t>> At(uint64_t offset, size_t size) = 0;
};

class MemoryBytes : public Bytes {
 public:
  explicit MemoryBytes(std::span<const uint8_t> data) : data_(data) {}
  Result<std::span<const uint8_t>> At(uint64_t offset, size_t size) override;

 private:
  std::span<const uint8_t> data_;
};

// Reads the file's first `end` bytes (what PictureExtent gives) in windows of
// a few MiB with pread: memory follows the window, whatever the file holds
// after the picture, and a file cut short under the reader is an error.
class FileBytes : public Bytes {
 public:
  FileBytes(const FileReader& file, uint64_t end) : file_(file), end_(end) {}
  Result<std::span<const uint8_t>> At(uint64_t offset, size_t size) override;

 private:
  const FileReader& file_;
  uint64_t end_;
  std::vector<uint8_t> window_;
  uint64_t window_start_ = 0;
};

// Decodes the pixels `header` (from ReadBmpHeader on the same file) describes.
// Palette pictures using only gray entries become Gray8, all others Bgr24;
// alpha is laid over white. Pixels that run-length data skips or never
// reaches count as transparent, so they too come out white.
Result<Image> DecodeBmpPixels(Bytes& file, const Header& header, const std::string& name,
                              Warnings* warnings);

}  // namespace zavo::bmp
