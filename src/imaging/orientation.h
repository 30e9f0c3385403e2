// How a stored picture is meant to be seen: the eight orientations of EXIF
// and TIFF (tag 274). The value says where the stored first row and first
// column belong: 1 upright, 2 mirrored left to right, 3 turned half round,
// 4 mirrored top to bottom, 5 transposed, 6 to be turned a quarter clockwise,
// 7 transversed, 8 to be turned a quarter anticlockwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"
#include "platform/error.h"

namespace zavo {

inline constexpr uint16_t kUpright = 1;

// 1..8 as they are; anything else (0, 9 and beyond) is upright.
inline uint16_t SaneOrientation(uint32_t value) {
  return value >= 1 && value <= 8 ? static_cast<uint16_t>(value) : kUpright;
}

// Orientations 5 to 8 swap width and height (and the resolution's x and y).
inline bool SwapsAxes(uint16_t orientation) { return orientation >= 5 && orientation <= 8; }

uint32_t ShownWidth(const Image& image);
uint32_t ShownHeight(const Image& image);

// Writes the rows first_row .. first_row + count - 1 of the picture (one in
// memory) as it is seen (counted from its top) to `out`, `out_stride` bytes apart, each in the
// image's pixel format and padded with zeros to the stride. Rows are written
// in the order given by `bottom_up` (true: the last of them first, as BMP holds them).
void CopyShownRows(const Image& image, uint32_t first_row, uint32_t count, bool bottom_up,
                   uint8_t* out, size_t out_stride);

// The picture as it is seen, upright, resolution included; a copy in memory,
// made from a picture in its file a band of rows at a time.
Result<Image> UprightCopy(const Image& image);

}  // namespace zavo
