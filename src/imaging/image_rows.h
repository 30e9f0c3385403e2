// A picture's rows, a band at a time, wherever the picture lies: in memory
// the band is the picture's own rows, nothing copied; in its file the band is
// read with pread into a buffer of a few MiB, so a writer holds no second
// copy of the picture beside what its encoder keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/image.h"
#include "platform/error.h"

namespace zavo {

// Rows [first, first + count) counted from the top, lying bottom up as in a
// BMP: the band's last row at `bottom`, its first `(count - 1) * stride` after.
struct RowBand {
  const uint8_t* bottom = nullptr;
  size_t stride = 0;
  uint32_t first = 0;
  uint32_t count = 0;

  uint32_t end() const { return first + count; }
  bool holds(uint32_t y) const { return y >= first && y < end(); }
  const uint8_t* row(uint32_t y) const { return bottom + size_t{end() - 1 - y} * stride; }
};

// How many bytes of a transfer file are read at a time: a band of rows (at
// least one row), or a window of the file for the BMP decoder. A few MiB:
// few system calls, and nothing beside the picture.
size_t FileReadBytes();

// While one lives, FileReadBytes() is `bytes`: tests read small pictures in
// many pieces.
class ScopedFileReadBytes {
 public:
  explicit ScopedFileReadBytes(size_t bytes);
  ~ScopedFileReadBytes();
  ScopedFileReadBytes(const ScopedFileReadBytes&) = delete;
  ScopedFileReadBytes& operator=(const ScopedFileReadBytes&) = delete;

 private:
  size_t saved_;
};

class ImageRows {
 public:
  explicit ImageRows(const Image& image);

  // The most rows one band holds: the whole picture when it is in memory.
  uint32_t rows_per_band() const { return rows_per_band_; }

  // Rows [first, first + count); `count` is at most rows_per_band(). The band
  // stays valid until the next call. A file cut short meanwhile, or a read the
  // system refuses, fails naming the file.
  Result<RowBand> Rows(uint32_t first, uint32_t count);

  // The band holding row `y` and as many rows after it as a band takes:
  // `band` itself when it already holds `y`.
  Result<RowBand> From(uint32_t y, const RowBand& band);

 private:
  const Image& image_;
  uint32_t rows_per_band_;
  std::vector<uint8_t> buffer_;
};

}  // namespace zavo
