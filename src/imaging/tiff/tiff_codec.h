// TIFF through libtiff.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/image.h"
#include "imaging/progress.h"
#include "imaging/tiff_module.h"
#include "platform/error.h"

namespace zavo {

// The first page. Gray pictures come back as Gray8, all others as Bgr24.
Result<Image> DecodeTiff(std::span<const uint8_t> data, const std::string& name, Warnings* warnings,
                         Progress* progress);
Result<Image> LoadTiffFile(const std::string& path, Warnings* warnings, Progress* progress);

// Uncompressed or PackBits; RGB for Bgr24, 8-bit min-is-black for Gray8;
// the resolution in the resolution tags.
Result<void> SaveTiffFile(const std::string& path, const Image& image, bool packbits,
                          Progress* progress);

// The codec linked into this program (the tests and tools link it in; the
// program itself loads the module).
Result<const TiffCodec*> LinkedTiffCodec();

}  // namespace zavo
