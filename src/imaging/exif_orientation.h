// The Orientation (tag 0x0112 of IFD0) in a JPEG's EXIF data.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zavo {

struct ExifOrientation {
  uint16_t value = 1;   // 1..8; missing or absurd values give 1
  std::string problem;  // why the data could not be read, or empty
};

// `app1` is the payload of an APP1 marker. Data that is not EXIF gives 1 and
// no problem; EXIF data that is cut short or points outside itself gives 1
// and says why.
ExifOrientation ReadExifOrientation(std::span<const uint8_t> app1);

// True when `app1` starts with the EXIF signature "Exif\0\0".
bool IsExif(std::span<const uint8_t> app1);

}  // namespace zavo
