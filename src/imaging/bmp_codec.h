// Our own BMP reader and writer: the host's transfer file format.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/image.h"
#include "imaging/progress.h"
#include "platform/error.h"

namespace zavo {

// Decodes a whole BMP file held in memory. `name` goes into messages.
// Palette pictures whose palette is all gray come back as Gray8, all others as Bgr24.
Result<Image> DecodeBmp(std::span<const uint8_t> data, const std::string& name, Warnings* warnings);
Result<Image> LoadBmpFile(const std::string& path, Warnings* warnings, Progress* progress);

// BITMAPFILEHEADER + BITMAPINFOHEADER, bottom-up; 24-bit BGR, or 8-bit with a
// gray palette for Gray8; the resolution in pixels per metre.
Result<void> SaveBmpFile(const std::string& path, const Image& image, Progress* progress);

}  // namespace zavo
