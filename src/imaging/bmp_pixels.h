// The pixel array of a BMP file, turned into an Image. Private to the BMP codec.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/bmp_header.h"
#include "imaging/image.h"
#include "imaging/progress.h"

namespace zavo::bmp {

// Decodes the pixels `header` (from ReadBmpHeader on the same bytes) describes.
// Palette pictures using only gray entries become Gray8, all others Bgr24;
// alpha is laid over white. Pixels that run-length data skips or never
// reaches count as transparent, so they too come out white.
Result<Image> DecodeBmpPixels(std::span<const uint8_t> file, const Header& header,
                              const std::string& name, Warnings* warnings);

}  // namespace zavo::bmp
