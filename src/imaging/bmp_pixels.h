// The pixel array of a BMP file, turned into an Image. Private to the BMP codec.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "imaging/bmp_header.h"
#include "imaging/image.h"
#include "imaging/progress.h"

namespace zavo::bmp {

// Told, kReleaseStep bytes at a time, which bytes of the file a pass over the pixel
// data is done with: [from, to). A mapped file hands those pages back.
using ReleaseBytes = std::function<void(size_t from, size_t to)>;
inline constexpr size_t kReleaseStep = size_t{4} << 20;

// Decodes the pixels `header` (from ReadBmpHeader on the same bytes) describes.
// Palette pictures using only gray entries become Gray8, all others Bgr24;
// alpha is laid over white. Pixels that run-length data skips or never
// reaches count as transparent, so they too come out white.
Result<Image> DecodeBmpPixels(std::span<const uint8_t> file, const Header& header,
                              const std::string& name, Warnings* warnings,
                              const ReleaseBytes& release = {});

}  // namespace zavo::bmp
