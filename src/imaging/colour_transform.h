// Colour management through LittleCMS 2: pixels described by an embedded ICC
// profile become sRGB, which is what the transfer file holds by convention.
// Built once per picture; Convert may then run on many threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "imaging/image.h"

namespace zavo {

// The pixels a transform takes: 8-bit ones as the decoders hold them (gray,
// or blue-green-red), 16-bit ones in host byte order (gray, red-green-blue).
// Adobe's CMYK JPEGs store the ink inverted (255 meaning none). Lab16 is
// CIE L*a*b* as ICC profiles encode it at 16 bits: L* 0..100 as 0..65535,
// a* and b* -128..127 as 0..65535.
enum class DevicePixels { Gray8, Bgr8, Cmyk8, InvertedCmyk8, Gray16, Rgb16, Cmyk16, Lab16 };

// The colour model a profile must describe to fit the pixels.
enum class ColourModel { Gray, Rgb, Cmyk, Lab };
ColourModel ModelOf(DevicePixels pixels);

class ColourTransform;

struct PreparedTransform {
  // Null when there is nothing to do: an sRGB profile (or one that converts
  // like it), or one that cannot be used.
  std::unique_ptr<const ColourTransform> transform;
  std::string problem;  // why the profile cannot be used, or empty
};

// Perceptual rendering, without black point compensation: what jpgicc and
// tificc do by default, and what most profiles are made for. Lab16 pixels
// without a profile (an empty span) are taken as Lab under D50, ICC's own
// white, and always give a transform.
PreparedTransform PrepareToSrgb(std::span<const uint8_t> profile, DevicePixels pixels);

class ColourTransform {
 public:
  struct State;
  explicit ColourTransform(std::unique_ptr<State> state);
  ~ColourTransform();

  DevicePixels input() const;
  // Gray for gray input, Bgr24 for all else.
  PixelFormat output() const;

  // Converts `count` pixels; `in` and `out` must not overlap.
  void Convert(const void* in, uint8_t* out, size_t count) const;

  // Converts the picture's own 8-bit pixels (Gray8 or Bgr8 input) where they
  // lie, on all cores.
  void ConvertPicture(Image* image) const;

  // Converts `count` rows of device pixels into the picture's rows
  // first_row.., on all cores.
  void ConvertRows(const uint8_t* const* rows, uint32_t count, Image* image,
                   uint32_t first_row) const;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace zavo
