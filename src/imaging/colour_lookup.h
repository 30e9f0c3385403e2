// A conversion from 8-bit RGB or CMYK to 8-bit sRGB, sampled on a grid and
// interpolated between its points (tetrahedra, as LittleCMS itself does for
// table-based profiles). LittleCMS's own 8-bit paths take 20 to 100 ns a
// pixel; this takes a few, and stays within a level or so of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zavo {

class ColourLookup {
 public:
  static constexpr double kMaxMatrixEntry = 8;

  // Converts `count` 16-bit device points (RGB, or CMYK as ink) to 16-bit RGB.
  using Sampler = std::function<void(const uint16_t* in, uint16_t* rgb, size_t count)>;

  // Blue-green-red input, as the decoders hold it.
  static ColourLookup ForBgr(const Sampler& sample);
  // CMYK input; `inverted`: 255 means no ink (Adobe's JPEGs).
  static ColourLookup ForCmyk(const Sampler& sample, bool inverted);
  // Blue-green-red input of a matrix-shaper profile, which needs no grid:
  // each channel through its curve to linear light (`linear`, red first, 0..1
  // for each level), the 3 x 3 `matrix` (output rows red, green, blue) and
  // `encode` (linear light to 0..1 sRGB). Every matrix entry must lie within
  // +-kMaxMatrixEntry, so no sum can overflow.
  static ColourLookup ForMatrix(const double (&linear)[3][256], const double (&matrix)[3][3],
                                const std::function<double(double)>& encode);

  // Writes `count` blue-green-red pixels.
  void Convert(const uint8_t* in, uint8_t* bgr, size_t count) const;

 private:
  struct Axis {
    uint32_t offset[256];  // of the grid point at or below each level
    uint16_t fraction[256];
  };
  ColourLookup() = default;
  static Axis AxisOver(uint32_t points, uint32_t stride, bool inverted);
  void ConvertBgr(const uint8_t* in, uint8_t* bgr, size_t count) const;
  void ConvertCmyk(const uint8_t* in, uint8_t* bgr, size_t count) const;
  void ConvertMatrix(const uint8_t* in, uint8_t* bgr, size_t count) const;

  unsigned channels_ = 3;       // 3 or 4: through the grid; 0: the matrix route
  std::vector<uint16_t> grid_;  // 8-bit sRGB values times 256, red first
  std::vector<Axis> axes_;      // one per input byte
  // The matrix route: linear light per level, the matrix, and the encoding
  // of every linear value at 14 bits.
  std::vector<int32_t> linear_;  // red, green, blue tables of 256
  int32_t matrix_[3][3] = {};
  std::vector<uint8_t> encode_;
};

}  // namespace zavo
