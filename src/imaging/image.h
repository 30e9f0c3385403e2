// A decoded picture, held the way a BMP file holds its pixels: rows from the
// bottom up, each padded to a multiple of four bytes, blue-green-red or 8-bit
// gray. Decoders write straight into this layout and the BMP writer sends it
// out in one write, so an import needs no conversion pass. A transfer file
// whose pixels already lie this way is not read in at all: the Image names
// the file, and writers read its rows a band at a time (see image_rows.h).
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/error.h"
#include "platform/file_io.h"

namespace zavo {

enum class PixelFormat : uint8_t {
  Bgr24,  // 3 bytes a pixel: blue, green, red
  Gray8,  // 1 byte a pixel, 0 black to 255 white
};

// Limits are policy, checked before any allocation: the pixel count bounds the
// memory (768 MiB of BGR at most); the side limit only stops absurd headers,
// and lets through the long thin scans some devices write.
inline constexpr uint32_t kMaxImageSide = 1 << 20;
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 28;

inline constexpr unsigned BytesPerPixel(PixelFormat format) {
  return format == PixelFormat::Bgr24 ? 3 : 1;
}

// Bytes of one padded row; 64-bit so no product can overflow.
inline constexpr uint64_t BmpRowStride(uint64_t width, unsigned bits_per_pixel) {
  return (width * bits_per_pixel + 31) / 32 * 4;
}

// Checks width and height against the limits; `what` names the format and
// file for the message ("TIFF: in.tif").
Result<void> CheckImageSize(uint64_t width, uint64_t height, const std::string& what);

// Anonymous memory for `bytes`, rounded up to whole huge pages (`mapped`
// bytes, to give back with munmap); null on failure.
uint8_t* MapInHugePages(size_t bytes, size_t* mapped);

// Large pictures get memory of their own from the system, in huge pages where
// it grants them: far fewer page faults while a decoder fills them.
struct PixelRelease {
  size_t mapped_bytes = 0;  // 0: allocated with new[]
  void operator()(uint8_t* pixels) const;
};

class Image {
 public:
  // Allocates an image with every padding byte zeroed and the pixels left for
  // the decoder to fill. Fails on sizes beyond the limits or out of memory.
  static Result<Image> Create(uint32_t width, uint32_t height, PixelFormat format,
                              const std::string& what);

  // A picture whose rows stay in `file`: a BMP pixel array in this layout,
  // starting at `offset`, which the caller has checked lies within the file.
  static Image InFile(uint32_t width, uint32_t height, PixelFormat format,
                      std::unique_ptr<const FileReader> file, uint64_t offset);

  Image() = default;
  Image(Image&&) noexcept = default;
  Image& operator=(Image&&) noexcept = default;

  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  PixelFormat format() const { return format_; }
  size_t stride() const { return stride_; }
  size_t size_bytes() const { return stride_ * height_; }
  bool in_memory() const { return file_ == nullptr; }

  // The whole pixel array, bottom row first, as it stands in a BMP file.
  // Only a picture in memory has one; read the rows of any picture through
  // ImageRows.
  uint8_t* data() {
    assert(in_memory());
    return pixels_.get();
  }
  const uint8_t* data() const {
    assert(in_memory());
    return pixels_.get();
  }

  // Row y counted from the top of the picture.
  uint8_t* row(uint32_t y) { return data() + (height_ - 1 - y) * stride_; }
  const uint8_t* row(uint32_t y) const { return data() + (height_ - 1 - y) * stride_; }

  // Where the rows of a picture InFile lie; null for one in memory.
  const FileReader* file() const { return file_.get(); }
  uint64_t file_offset() const { return file_offset_; }

  // Resolution in pixels per metre; 0 when the source did not say.
  uint32_t x_pixels_per_metre = 0;
  uint32_t y_pixels_per_metre = 0;

  // How the stored rows are meant to be seen (see orientation.h): 1, upright,
  // unless the source said otherwise. Whoever writes the picture out turns it.
  uint16_t orientation = 1;

 private:
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  PixelFormat format_ = PixelFormat::Bgr24;
  size_t stride_ = 0;

  std::unique_ptr<uint8_t, PixelRelease> pixels_;
  std::unique_ptr<const FileReader> file_;  // where an InFile picture's rows stay
  uint64_t file_offset_ = 0;
};

}  // namespace zavo
