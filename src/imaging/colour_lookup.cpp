#include "imaging/colour_lookup.h"

#include <algorithm>
#include <cmath>

namespace zavo {
namespace {

constexpr int kFractionBits = 12;
constexpr int kOne = 1 << kFractionBits;
// Grid points along each axis: every 8 levels for RGB; CMYK's four axes at
// every 16 keep the grid (83521 points) small enough for the caches.
constexpr unsigned kRgbPoints = 17;
constexpr unsigned kCmykPoints = 17;
// The matrix route: linear light at 14 bits, the matrix at 12.
constexpr int kLinearOne = 1 << 14;
constexpr int kMatrixBits = 12;
constexpr int kMatrixOne = 1 << kMatrixBits;

// Every grid point of `dimensions` axes, the first axis slowest, as 16-bit values.
std::vector<uint16_t> GridPoints(unsigned dimensions, unsigned points) {
  size_t total = 1;
  for (unsigned d = 0; d < dimensions; ++d) total *= points;
  std::vector<uint16_t> values(total * dimensions);
  for (size_t i = 0; i < total; ++i) {
    size_t rest = i;
    for (unsigned d = dimensions; d-- > 0;) {
      values[i * dimensions + d] = static_cast<uint16_t>(rest % points * 65535 / (points - 1));
      rest /= points;
    }
  }
  return values;
}

std::vector<uint16_t> SampleGrid(const ColourLookup::Sampler& sample, unsigned dimensions,
                                 unsigned points) {
  const std::vector<uint16_t> in = GridPoints(dimensions, points);
  const size_t count = in.size() / dimensions;
  std::vector<uint16_t> rgb(count * 3);
  sample(in.data(), rgb.data(), count);
  // 8-bit levels times 256: room to round after interpolating.
  for (uint16_t& value : rgb)
    value = static_cast<uint16_t>((uint32_t{value} * 65280 + 32767) / 65535);
  return rgb;
}

// Walks from the cell's first corner along the axis of the largest fraction,
// then the next, then the last: the tetrahedron that holds the point.
inline void Tetrahedral(const uint16_t* corner, uint32_t sx, uint32_t sy, uint32_t sz, int fx,
                        int fy, int fz, int32_t out[3]) {
  uint32_t s1, s2, s3;
  int f1, f2, f3;
  if (fx >= fy) {
    if (fy >= fz) {
      s1 = sx, s2 = sy, s3 = sz, f1 = fx, f2 = fy, f3 = fz;
    } else if (fx >= fz) {
      s1 = sx, s2 = sz, s3 = sy, f1 = fx, f2 = fz, f3 = fy;
    } else {
      s1 = sz, s2 = sx, s3 = sy, f1 = fz, f2 = fx, f3 = fy;
    }
  } else {
    if (fx >= fz) {
      s1 = sy, s2 = sx, s3 = sz, f1 = fy, f2 = fx, f3 = fz;
    } else if (fy >= fz) {
      s1 = sy, s2 = sz, s3 = sx, f1 = fy, f2 = fz, f3 = fx;
    } else {
      s1 = sz, s2 = sy, s3 = sx, f1 = fz, f2 = fy, f3 = fx;
    }
  }
  const uint16_t* a = corner;
  const uint16_t* b = a + s1;
  const uint16_t* c = b + s2;
  const uint16_t* d = c + s3;
  for (int ch = 0; ch < 3; ++ch) {
    out[ch] = (int32_t{a[ch]} << kFractionBits) + (int32_t{b[ch]} - a[ch]) * f1 +
              (int32_t{c[ch]} - b[ch]) * f2 + (int32_t{d[ch]} - c[ch]) * f3;
  }
}

inline uint8_t ToLevel(int64_t scaled) {
  const int64_t level = (scaled + (int64_t{1} << (kFractionBits + 7))) >> (kFractionBits + 8);
  return static_cast<uint8_t>(level < 0 ? 0 : level > 255 ? 255 : level);
}

}  // namespace

// Where each stored level falls on a grid axis of `points` points: the grid
// point at or below it and the fraction of the way to the next.
ColourLookup::Axis ColourLookup::AxisOver(uint32_t points, uint32_t stride, bool inverted) {
  Axis axis;
  for (unsigned stored = 0; stored < 256; ++stored) {
    const unsigned level = inverted ? 255 - stored : stored;
    const uint32_t position = level * (points - 1) * kOne / 255;
    uint32_t index = position >> kFractionBits;
    uint32_t fraction = position & (kOne - 1);
    if (index == points - 1) index -= 1, fraction = kOne;
    axis.offset[stored] = index * stride;
    axis.fraction[stored] = static_cast<uint16_t>(fraction);
  }
  return axis;
}

ColourLookup ColourLookup::ForBgr(const Sampler& sample) {
  ColourLookup lookup;
  lookup.channels_ = 3;
  lookup.grid_ = SampleGrid(sample, 3, kRgbPoints);
  lookup.axes_.resize(3);
  // Input bytes are blue, green, red; the grid's slowest axis is red.
  const uint32_t strides[3] = {3, kRgbPoints * 3, kRgbPoints * kRgbPoints * 3};
  for (unsigned byte = 0; byte < 3; ++byte) {
    lookup.axes_[byte] = AxisOver(kRgbPoints, strides[byte], false);
  }
  return lookup;
}

ColourLookup ColourLookup::ForCmyk(const Sampler& sample, bool inverted) {
  ColourLookup lookup;
  lookup.channels_ = 4;
  lookup.grid_ = SampleGrid(sample, 4, kCmykPoints);
  lookup.axes_.resize(4);
  // Input bytes are cyan, magenta, yellow, black; the grid's slowest axis is cyan.
  constexpr uint32_t kP = kCmykPoints;
  const uint32_t strides[4] = {kP * kP * kP * 3, kP * kP * 3, kP * 3, 3};
  for (unsigned byte = 0; byte < 4; ++byte)
    lookup.axes_[byte] = AxisOver(kP, strides[byte], inverted);
  return lookup;
}

ColourLookup ColourLookup::ForMatrix(const double (&linear)[3][256], const double (&matrix)[3][3],
                                     const std::function<double(double)>& encode) {
  ColourLookup lookup;
  lookup.channels_ = 0;
  lookup.linear_.resize(3 * 256);
  for (int c = 0; c < 3; ++c) {
    for (int level = 0; level < 256; ++level) {
      // A broken curve may leave 0..1; NaN fails both tests and becomes 0.
      const double value = linear[c][level] > 0 ? std::min(linear[c][level], 1.0) : 0.0;
      lookup.linear_[c * 256 + level] = static_cast<int32_t>(std::lround(value * kLinearOne));
    }
    for (int j = 0; j < 3; ++j) {
      lookup.matrix_[c][j] = static_cast<int32_t>(std::lround(matrix[c][j] * kMatrixOne));
    }
  }
  lookup.encode_.resize(kLinearOne + 1);
  for (int32_t i = 0; i <= kLinearOne; ++i) {
    const double encoded = encode(double(i) / kLinearOne);
    const double value = encoded > 0 ? std::min(encoded, 1.0) : 0.0;
    lookup.encode_[i] = static_cast<uint8_t>(std::lround(value * 255));
  }
  return lookup;
}

void ColourLookup::ConvertMatrix(const uint8_t* in, uint8_t* bgr, size_t count) const {
  const int32_t* red = linear_.data();
  const int32_t* green = red + 256;
  const int32_t* blue = green + 256;
  const uint8_t* encode = encode_.data();
  // Locals, not members: every byte stored may alias them as far as the
  // compiler knows, and it would load them again for each pixel.
  int32_t m[3][3];
  std::copy(&matrix_[0][0], &matrix_[0][0] + 9, &m[0][0]);
  const auto channel = [&](const int32_t* row, int32_t r, int32_t g, int32_t b) {
    const int32_t sum = row[0] * r + row[1] * g + row[2] * b;
    return encode[std::clamp((sum + kMatrixOne / 2) >> kMatrixBits, 0, kLinearOne)];
  };
  for (size_t i = 0; i < count; ++i, in += 3, bgr += 3) {
    const int32_t r = red[in[2]], g = green[in[1]], b = blue[in[0]];
    const uint8_t out_red = channel(m[0], r, g, b);
    const uint8_t out_green = channel(m[1], r, g, b);
    const uint8_t out_blue = channel(m[2], r, g, b);
    bgr[0] = out_blue;
    bgr[1] = out_green;
    bgr[2] = out_red;
  }
}

void ColourLookup::Convert(const uint8_t* in, uint8_t* bgr, size_t count) const {
  if (channels_ == 0) {
    ConvertMatrix(in, bgr, count);
  } else if (channels_ == 3) {
    ConvertBgr(in, bgr, count);
  } else {
    ConvertCmyk(in, bgr, count);
  }
}

void ColourLookup::ConvertBgr(const uint8_t* in, uint8_t* bgr, size_t count) const {
  const Axis& blue = axes_[0];
  const Axis& green = axes_[1];
  const Axis& red = axes_[2];
  const uint16_t* grid = grid_.data();
  const uint32_t sb = 3, sg = kRgbPoints * 3, sr = kRgbPoints * kRgbPoints * 3;
  for (size_t i = 0; i < count; ++i, in += 3, bgr += 3) {
    const uint16_t* corner = grid + red.offset[in[2]] + green.offset[in[1]] + blue.offset[in[0]];
    int32_t rgb[3];
    Tetrahedral(corner, sr, sg, sb, red.fraction[in[2]], green.fraction[in[1]],
                blue.fraction[in[0]], rgb);
    const uint8_t out[3] = {ToLevel(rgb[2]), ToLevel(rgb[1]), ToLevel(rgb[0])};
    bgr[0] = out[0];
    bgr[1] = out[1];
    bgr[2] = out[2];
  }
}

// Tetrahedra in cyan, magenta and yellow on the two black planes either side,
// then a straight line between them.
void ColourLookup::ConvertCmyk(const uint8_t* in, uint8_t* bgr, size_t count) const {
  constexpr uint32_t kP = kCmykPoints;
  const uint32_t sc = kP * kP * kP * 3, sm = kP * kP * 3, sy = kP * 3, sk = 3;
  const uint16_t* grid = grid_.data();
  const Axis& cyan = axes_[0];
  const Axis& magenta = axes_[1];
  const Axis& yellow = axes_[2];
  const Axis& black = axes_[3];
  for (size_t i = 0; i < count; ++i, in += 4, bgr += 3) {
    const uint16_t* corner = grid + cyan.offset[in[0]] + magenta.offset[in[1]] +
                             yellow.offset[in[2]] + black.offset[in[3]];
    const int fc = cyan.fraction[in[0]], fm = magenta.fraction[in[1]];
    const int fy = yellow.fraction[in[2]], fk = black.fraction[in[3]];
    int32_t low[3], high[3];
    Tetrahedral(corner, sc, sm, sy, fc, fm, fy, low);
    Tetrahedral(corner + sk, sc, sm, sy, fc, fm, fy, high);
    int64_t rgb[3];
    for (int ch = 0; ch < 3; ++ch) {
      rgb[ch] = (int64_t{low[ch]} * (kOne - fk) + int64_t{high[ch]} * fk) >> kFractionBits;
    }
    const uint8_t out[3] = {ToLevel(rgb[2]), ToLevel(rgb[1]), ToLevel(rgb[0])};
    bgr[0] = out[0];
    bgr[1] = out[1];
    bgr[2] = out[2];
  }
}

}  // namespace zavo
