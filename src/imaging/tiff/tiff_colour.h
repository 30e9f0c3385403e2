// The ICC profile of a TIFF (tag 34675), turned into the transform the reading
// of this picture needs.
#pragma once

#include <memory>

#include "imaging/colour_transform.h"
#include "imaging/tiff/tiff_decode.h"

namespace zavo {

// At most one of the two is set. CMYK and samples beyond 8 bits go through
// the Samples route at 16 bits (`samples`); 8-bit gray, RGB, palette and
// YCbCr pictures are decoded as usual and converted afterwards (`picture`).
struct TiffColours {
  std::unique_ptr<const ColourTransform> samples;
  std::unique_ptr<const ColourTransform> picture;
};

// A profile that cannot be used is one warning on `messages`; the picture is
// then read without it.
TiffColours ReadTiffColours(TIFF* tif, const TiffLayout& layout, TiffMessages* messages);

}  // namespace zavo
