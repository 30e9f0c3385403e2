#include "imaging/image.h"

#include <cstring>
#include <new>
#include <string>

namespace zavo {

Result<void> CheckImageSize(uint64_t width, uint64_t height, const std::string& what) {
  if (width == 0 || height == 0) {
    return Error(ErrorKind::Malformed, what + ": picture has no pixels (" + std::to_string(width) +
                                           " x " + std::to_string(height) + ")");
  }
  if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels) {
    return Error(ErrorKind::TooLarge, what + ": picture of " + std::to_string(width) + " x " +
                                          std::to_string(height) + " pixels is beyond the limit (" +
                                          std::to_string(kMaxImageSide) + " per side, " +
                                          std::to_string(kMaxImagePixels) + " pixels)");
  }
  return {};
}

Result<Image> Image::Create(uint32_t width, uint32_t height, PixelFormat format,
                            const std::string& what) {
  ZAVO_TRY(CheckImageSize(width, height, what));
  Image image;
  image.width_ = width;
  image.height_ = height;
  image.format_ = format;
  image.stride_ = static_cast<size_t>(BmpRowStride(width, BytesPerPixel(format) * 8));
  const size_t bytes = image.stride_ * height;
  image.pixels_.reset(new (std::nothrow) uint8_t[bytes]);
  if (!image.pixels_) {
    return Error(ErrorKind::TooLarge,
                 what + ": not enough memory for " + std::to_string(bytes) + " bytes of pixels");
  }
  const size_t used = size_t{width} * BytesPerPixel(format);
  if (used < image.stride_) {
    for (uint32_t y = 0; y < height; ++y) {
      std::memset(image.pixels_.get() + y * image.stride_ + used, 0, image.stride_ - used);
    }
  }
  return image;
}

}  // namespace zavo
