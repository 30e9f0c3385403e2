#include "imaging/image.h"

#include <sys/mman.h>

#include <algorithm>
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

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Every 4 KiB page a decoder first writes is a page fault, some microseconds
// each on a virtual machine (over 2 ms for a 640 x 480 picture); a huge page
// is one fault. Pictures from a quarter of one up are therefore mapped in
// whole huge pages, at most 1.5 MiB more than they need.
constexpr size_t kMapFrom = kHugePage / 4;

// Under AddressSanitizer every picture comes from new[], whose bounds it guards.
#ifdef ZAVO_SANITIZED
constexpr bool kMapLargePictures = false;
#else
constexpr bool kMapLargePictures = true;
#endif

}  // namespace

uint8_t* MapInHugePages(size_t bytes, size_t* mapped) {
  *mapped = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* memory =
      ::mmap(nullptr, *mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  ::madvise(memory, *mapped, MADV_HUGEPAGE);
  return static_cast<uint8_t*>(memory);
}

void PixelRelease::operator()(uint8_t* pixels) const {
  if (mapped_bytes > 0) {
    ::munmap(pixels, mapped_bytes);
  } else {
    delete[] pixels;
  }
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
  if (kMapLargePictures && bytes >= kMapFrom) {
    size_t mapped = 0;
    uint8_t* pixels = MapInHugePages(bytes, &mapped);
    image.pixels_ = {pixels, PixelRelease{pixels != nullptr ? mapped : 0}};
  } else {
    image.pixels_ = {new (std::nothrow) uint8_t[bytes], PixelRelease{}};
  }
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

Image Image::InFile(uint32_t width, uint32_t height, PixelFormat format,
                    std::unique_ptr<const FileReader> file, uint64_t offset) {
  Image image;
  image.width_ = width;
  image.height_ = height;
  image.format_ = format;
  image.stride_ = static_cast<size_t>(BmpRowStride(width, BytesPerPixel(format) * 8));
  image.file_ = std::move(file);
  image.file_offset_ = offset;
  return image;
}

}  // namespace zavo
