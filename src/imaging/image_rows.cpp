#include "imaging/image_rows.h"

#include <algorithm>
#include <atomic>

namespace zavo {
namespace {

std::atomic<size_t> g_read_bytes{size_t{4} << 20};

uint32_t RowsPerBand(const Image& image) {
  if (image.in_memory()) return image.height();
  const size_t rows = FileReadBytes() / image.stride();
  return static_cast<uint32_t>(std::clamp<size_t>(rows, 1, image.height()));
}

}  // namespace

size_t FileReadBytes() { return g_read_bytes.load(std::memory_order_relaxed); }

ScopedFileReadBytes::ScopedFileReadBytes(size_t bytes) : saved_(g_read_bytes.exchange(bytes)) {}

ScopedFileReadBytes::~ScopedFileReadBytes() { g_read_bytes.store(saved_); }

ImageRows::ImageRows(const Image& image) : image_(image), rows_per_band_(RowsPerBand(image)) {}

Result<RowBand> ImageRows::Rows(uint32_t first, uint32_t count) {
  const size_t stride = image_.stride();
  if (count == 0 || count > rows_per_band_ || first > image_.height() - count) {
    return Error(ErrorKind::Internal, "rows " + std::to_string(first) + " + " +
                                          std::to_string(count) + " asked of a picture of " +
                                          std::to_string(image_.height()));
  }
  if (image_.in_memory()) return RowBand{image_.row(first + count - 1), stride, first, count};
  // Stored bottom up: the band's last row comes first in the file.
  const uint64_t rows_below = image_.height() - first - count;
  buffer_.resize(size_t{rows_per_band_} * stride);
  const std::span<uint8_t> out(buffer_.data(), size_t{count} * stride);
  ZAVO_TRY(image_.file()->ReadAt(image_.file_offset() + rows_below * stride, out));
  return RowBand{buffer_.data(), stride, first, count};
}

Result<RowBand> ImageRows::From(uint32_t y, const RowBand& band) {
  if (band.holds(y)) return band;
  return Rows(y, std::min(rows_per_band_, image_.height() - y));
}

}  // namespace zavo
