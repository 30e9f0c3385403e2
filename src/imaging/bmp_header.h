// The headers of a BMP file: read field by field and checked, in a fixed
// order, before the reader allocates anything. Private to the BMP codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/error.h"

namespace zavo::bmp {

// The pixel encodings left once the header has been checked; everything
// else (embedded JPEG/PNG, Huffman, RLE24, 64-bit) is refused as unsupported.
enum class Compression : uint8_t {
  None,       // rows of palette indices, BGR triples, or 16/32-bit words with default masks
  Rle8,       // run-length coded 8-bit indices
  Rle4,       // run-length coded 4-bit indices
  Bitfields,  // 16/32-bit words with the masks given in the file
};

struct PaletteEntry {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
};

// Where each channel lies in a 16- or 32-bit pixel word; a zero mask means the
// channel is absent (0 for colours, opaque for alpha).
struct Masks {
  uint32_t red = 0;
  uint32_t green = 0;
  uint32_t blue = 0;
  uint32_t alpha = 0;
};

struct Header {
  uint32_t width = 0;
  uint32_t height = 0;
  bool top_down = false;  // first stored row is the top one
  unsigned bits_per_pixel = 0;
  Compression compression = Compression::None;
  Masks masks;                        // 16- and 32-bit pictures only
  std::vector<PaletteEntry> palette;  // pictures of 8 bits a pixel or fewer
  size_t pixel_offset = 0;            // where the pixel array starts in the file
  uint32_t x_pixels_per_metre = 0;
  uint32_t y_pixels_per_metre = 0;
};

// The headers, masks and palette of any BMP lie within its first this many bytes.
inline constexpr size_t kHeadBytes = 4096;

// Reads and checks the headers, colour masks and palette of a BMP file of
// `file_size` bytes, of which `file` holds the front (the whole file, or at
// least its first kHeadBytes). On success an uncompressed pixel array lies
// wholly inside the file; run-length data may still end early.
Result<Header> ReadBmpHeader(std::span<const uint8_t> file, uint64_t file_size,
                             const std::string& name);

// How much of the front of a BMP file of `file_size` bytes the picture can
// use, from its first bytes `head`: up to the end of an uncompressed pixel
// array, which the header gives. Run-length data ends where its codes say, so
// for it, and for any header too broken to tell, it is the size field or the
// whole file; ReadBmpHeader then says what is wrong.
uint64_t PictureExtent(std::span<const uint8_t> head, uint64_t file_size);

// An error whose message reads "BMP: <defect>: <file name>".
Error BmpError(ErrorKind kind, const std::string& defect, const std::string& name);

}  // namespace zavo::bmp
