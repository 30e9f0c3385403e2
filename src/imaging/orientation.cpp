#include "imaging/orientation.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "imaging/image_rows.h"
#include "imaging/parallel_rows.h"

namespace zavo {
namespace {

// Where the seen pixel (x, y) lies in memory: origin + x * pixel_step + y * row_step.
struct Walk {
  const uint8_t* origin;
  ptrdiff_t pixel_step;
  ptrdiff_t row_step;
};

// The stored pixel (sx, sy) of the seen pixel (x, y) is
//   sx = a x + b y + c (w - 1),  sy = d x + e y + f (h - 1)
// for these coefficients, orientation by orientation.
struct Mapping {
  int a, b, c, d, e, f;
};
constexpr Mapping kMappings[9] = {
    {1, 0, 0, 0, 1, 0},    // (none: treated as 1)
    {1, 0, 0, 0, 1, 0},    // 1 upright
    {-1, 0, 1, 0, 1, 0},   // 2 mirrored left to right
    {-1, 0, 1, 0, -1, 1},  // 3 half round
    {1, 0, 0, 0, -1, 1},   // 4 mirrored top to bottom
    {0, 1, 0, 1, 0, 0},    // 5 transposed
    {0, 1, 0, -1, 0, 1},   // 6 a quarter clockwise
    {0, -1, 1, -1, 0, 1},  // 7 transversed
    {0, -1, 1, 1, 0, 0},   // 8 a quarter anticlockwise
};

// Stored rows in memory, bottom up, `stride` apart, the last one at
// `bottom`: a whole picture, or a band of one read as a picture of its own.
struct StoredRows {
  const uint8_t* bottom;
  size_t stride;
  uint32_t width;
  uint32_t height;
  unsigned bytes_per_pixel;
  uint16_t orientation;  // sane
};

StoredRows WholePicture(const Image& image) {
  return {image.row(image.height() - 1),
          image.stride(),
          image.width(),
          image.height(),
          BytesPerPixel(image.format()),
          SaneOrientation(image.orientation)};
}

uint32_t SeenWidth(const StoredRows& stored) {
  return SwapsAxes(stored.orientation) ? stored.height : stored.width;
}

uint32_t SeenHeight(const StoredRows& stored) {
  return SwapsAxes(stored.orientation) ? stored.width : stored.height;
}

Walk WalkOf(const StoredRows& stored) {
  const Mapping& m = kMappings[stored.orientation];
  const auto bpp = static_cast<ptrdiff_t>(stored.bytes_per_pixel);
  const auto stride = static_cast<ptrdiff_t>(stored.stride);
  const ptrdiff_t last_x = stored.width - 1;
  const ptrdiff_t last_y = stored.height - 1;
  // Stored row sy lies at bottom + (h - 1 - sy) * stride: rows go bottom up.
  const uint8_t* origin = stored.bottom + (last_y - m.f * last_y) * stride + m.c * last_x * bpp;
  return {origin, m.a * bpp - m.d * stride, m.b * bpp - m.e * stride};
}

template <unsigned kBytes>
inline void CopyPixel(const uint8_t* from, uint8_t* to) {
  for (unsigned i = 0; i < kBytes; ++i) to[i] = from[i];
}

// One seen row whose pixels lie along a stored row.
template <unsigned kBytes>
void CopyAlongRow(const uint8_t* from, ptrdiff_t step, uint32_t width, uint8_t* to) {
  if (step == kBytes) {
    std::memcpy(to, from, size_t{width} * kBytes);
    return;
  }
  for (uint32_t x = 0; x < width; ++x, from += step, to += kBytes) CopyPixel<kBytes>(from, to);
}

// Seen rows that run down stored columns: a few at a time, so each stored row
// is read a short run of neighbouring bytes at once instead of one pixel.
template <unsigned kBytes>
void CopyAcrossRows(const Walk& walk, uint32_t width, uint32_t count, uint8_t* const* rows,
                    uint32_t first_row) {
  constexpr uint32_t kBlock = 64;
  for (uint32_t block = 0; block < count; block += kBlock) {
    const uint32_t n = std::min(kBlock, count - block);
    const uint8_t* from = walk.origin + static_cast<ptrdiff_t>(first_row + block) * walk.row_step;
    for (uint32_t x = 0; x < width; ++x, from += walk.pixel_step) {
      const uint8_t* pixel = from;
      for (uint32_t k = 0; k < n; ++k, pixel += walk.row_step) {
        CopyPixel<kBytes>(pixel, rows[block + k] + size_t{x} * kBytes);
      }
    }
  }
}

template <unsigned kBytes>
void CopyRows(const StoredRows& stored, uint32_t first_row, uint32_t count, uint8_t* const* rows) {
  const Walk walk = WalkOf(stored);
  const uint32_t width = SeenWidth(stored);
  if (SwapsAxes(stored.orientation)) {
    CopyAcrossRows<kBytes>(walk, width, count, rows, first_row);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* from = walk.origin + static_cast<ptrdiff_t>(first_row + i) * walk.row_step;
    CopyAlongRow<kBytes>(from, walk.pixel_step, width, rows[i]);
  }
}

// Seen rows [first_row, first_row + count) of `stored` into `rows`.
void CopySeenRows(const StoredRows& stored, uint32_t first_row, uint32_t count,
                  uint8_t* const* rows) {
  if (stored.bytes_per_pixel == 1) {
    CopyRows<1>(stored, first_row, count, rows);
  } else {
    CopyRows<3>(stored, first_row, count, rows);
  }
}

// The stored rows [first, first + n) of a picture h rows high, seen, are a
// strip of the seen picture: whole rows, or whole columns when the axes
// swap, starting at `first` or, where the orientation counts stored rows
// from the end, at h - first - n.
uint32_t SeenStripStart(uint16_t orientation, uint32_t first, uint32_t n, uint32_t h) {
  return kMappings[orientation].f == 1 ? h - first - n : first;
}

// Copies one band of a picture's stored rows to where it is seen in `upright`.
void PlaceBand(const StoredRows& band, uint32_t first, uint32_t height, Image* upright) {
  const uint32_t start = SeenStripStart(band.orientation, first, band.height, height);
  const bool swap = SwapsAxes(band.orientation);
  const size_t x0 = swap ? start : 0;
  const uint32_t y0 = swap ? 0 : start;
  std::vector<uint8_t*> rows(SeenHeight(band));
  for (uint32_t r = 0; r < rows.size(); ++r) {
    rows[r] = upright->row(y0 + r) + x0 * band.bytes_per_pixel;
  }
  const uint64_t row_bytes = uint64_t{SeenWidth(band)} * band.bytes_per_pixel;
  ForEachRowBand(SeenHeight(band), row_bytes, [&](uint32_t first_row, uint32_t count) {
    CopySeenRows(band, first_row, count, rows.data() + first_row);
  });
}

// A picture in its file is turned a band of stored rows at a time.
Result<void> TurnFromFile(const Image& image, Image* upright) {
  ImageRows stored(image);
  for (uint32_t first = 0; first < image.height(); first += stored.rows_per_band()) {
    const uint32_t n = std::min(stored.rows_per_band(), image.height() - first);
    ZAVO_TRY_ASSIGN(const RowBand band, stored.Rows(first, n));
    const StoredRows rows{band.bottom,
                          band.stride,
                          image.width(),
                          n,
                          BytesPerPixel(image.format()),
                          SaneOrientation(image.orientation)};
    PlaceBand(rows, first, image.height(), upright);
  }
  return {};
}

}  // namespace

uint32_t ShownWidth(const Image& image) {
  return SwapsAxes(SaneOrientation(image.orientation)) ? image.height() : image.width();
}

uint32_t ShownHeight(const Image& image) {
  return SwapsAxes(SaneOrientation(image.orientation)) ? image.width() : image.height();
}

void CopyShownRows(const Image& image, uint32_t first_row, uint32_t count, bool bottom_up,
                   uint8_t* out, size_t out_stride) {
  std::vector<uint8_t*> rows(count);
  for (uint32_t i = 0; i < count; ++i) rows[i] = out + (bottom_up ? count - 1 - i : i) * out_stride;
  const size_t used = size_t{ShownWidth(image)} * BytesPerPixel(image.format());
  for (uint8_t* row : rows) std::memset(row + used, 0, out_stride - used);
  CopySeenRows(WholePicture(image), first_row, count, rows.data());
}

Result<Image> UprightCopy(const Image& image) {
  Result<Image> upright =
      Image::Create(ShownWidth(image), ShownHeight(image), image.format(), "picture");
  if (!upright) return upright;
  if (image.in_memory()) {
    const uint32_t height = upright->height();
    const size_t stride = upright->stride();
    // The copy's rows lie bottom up too: its data() is its last row.
    ForEachRowBand(height, stride, [&](uint32_t first, uint32_t count) {
      CopyShownRows(image, first, count, true, upright->row(first + count - 1), stride);
    });
  } else {
    ZAVO_TRY(TurnFromFile(image, &*upright));
  }
  const bool swap = SwapsAxes(SaneOrientation(image.orientation));
  upright->x_pixels_per_metre = swap ? image.y_pixels_per_metre : image.x_pixels_per_metre;
  upright->y_pixels_per_metre = swap ? image.x_pixels_per_metre : image.y_pixels_per_metre;
  return upright;
}

}  // namespace zavo
