// The TIFF codec behind a table of functions. libtiff loads seven compression
// libraries of its own, which takes longer than a whole small JPEG import, so
// the program keeps the codec in the module zavo_tiff.so beside it and loads
// it at the first TIFF file; the tests and tools link it in (zavo_tiff).
#pragma once

#include <functional>
#include <string>

#include "imaging/image.h"
#include "imaging/progress.h"
#include "platform/error.h"

namespace zavo {

struct TiffCodec {
  Result<Image> (*load)(const std::string& path, Warnings* warnings, Progress* progress);
  Result<void> (*save)(const std::string& path, const Image& image, bool packbits,
                       Progress* progress);
};

// Gives the codec when it is first needed, or says why it cannot.
using TiffCodecSource = std::function<Result<const TiffCodec*>()>;

// The module's one exported function.
using TiffModuleEntry = const TiffCodec* (*)();
inline constexpr const char* kTiffModuleFile = "zavo_tiff.so";
inline constexpr const char* kTiffModuleEntry = "zavo_tiff_codec";

}  // namespace zavo
