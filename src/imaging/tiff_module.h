// The TIFF codec behind a table of functions. libtiff loads seven compression
// libraries of its own, which takes longer than a whole small JPEG import, so
// the program keeps the codec in the module zavo_tiff.so beside it and loads
// it at the first TIFF file; the tests and tools link it in (zavo_tiff).
#pragma once

#include <exception>
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

// The codec as zavo_tiff.so hands it over. No exception leaves the module:
// one thrown inside is caught at its entry, comes back in `thrown`, and the
// program throws it again on its own side, where the run's failure handling
// is (an allocation that fails is still the run-time error it always was).
struct TiffModuleCodec {
  Result<Image> (*load)(const std::string& path, Warnings* warnings, Progress* progress,
                        std::exception_ptr* thrown) noexcept;
  Result<void> (*save)(const std::string& path, const Image& image, bool packbits,
                       Progress* progress, std::exception_ptr* thrown) noexcept;
};

// The module's one exported function; it names the build the module belongs
// to in `*build`, which the loader checks before it uses the codec.
using TiffModuleEntry = const TiffModuleCodec* (*)(const char** build) noexcept;
inline constexpr const char* kTiffModuleFile = "zavo_tiff.so";
inline constexpr const char* kTiffModuleEntry = "zavo_tiff_codec";

}  // namespace zavo
