#include "imaging/bmp_pixels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "imaging/image_rows.h"
#include "platform/byte_reader.h"

namespace zavo::bmp {
namespace {

// Stored rows run bottom-up unless the header said top-down.
uint32_t TopRow(const Header& header, uint32_t stored_row) {
  return header.top_down ? stored_row : header.height - 1 - stored_row;
}

// ReadBmpHeader has checked that every row lies within the file.
Result<const uint8_t*> StoredRow(Bytes& file, const Header& header, uint32_t row) {
  const uint64_t stride = BmpRowStride(header.width, header.bits_per_pixel);
  ZAVO_TRY_ASSIGN(const auto bytes, file.At(header.pixel_offset + row * stride, stride));
  if (bytes.size() < stride) {
    return Error(ErrorKind::Internal, "BMP: row " + std::to_string(row) + " lies past the data");
  }
  return bytes.data();
}

bool IsRunLength(const Header& header) {
  return header.compression == Compression::Rle8 || header.compression == Compression::Rle4;
}

// Calls put(x, stored_row, index) for every pixel of uncompressed index rows,
// whose pixels fill each byte from its top bit down.
template <typename Put>
Result<void> ForEachPackedIndex(Bytes& file, const Header& header, Put&& put) {
  const unsigned bits = header.bits_per_pixel;
  const unsigned mask = (1u << bits) - 1;
  for (uint32_t y = 0; y < header.height; ++y) {
    ZAVO_TRY_ASSIGN(const uint8_t* row, StoredRow(file, header, y));
    for (uint32_t x = 0; x < header.width; ++x) {
      const size_t bit = size_t{x} * bits;
      put(x, y, (row[bit / 8] >> (8 - bits - bit % 8)) & mask);
    }
  }
  return {};
}

// Run-length data through a ByteReader over a piece of the file at a time;
// every code with its operands is shorter than kLongestCode, so a piece is
// only replaced between codes.
class RunBytes {
 public:
  static constexpr size_t kLongestCode = 2 + 256;

  RunBytes(Bytes& file, uint64_t start) : file_(file), start_(start) {}

  // A reader holding at least kLongestCode bytes, or all that are left.
  Result<ByteReader*> Next() {
    if (reader_.ok() && piece_.size() - reader_.position() >= kLongestCode) return &reader_;
    start_ += reader_.ok() ? reader_.position() : 0;
    ZAVO_TRY_ASSIGN(piece_, file_.At(start_, std::max(FileReadBytes(), kLongestCode)));
    reader_ = ByteReader(piece_);
    return &reader_;
  }

 private:
  Bytes& file_;
  uint64_t start_;
  std::span<const uint8_t> piece_;
  ByteReader reader_{{}, 1};  // failed: the first Next() reads
};

// RLE4 packs two indices a byte, the first in the high nibble.
unsigned RunIndex(bool four_bit, uint8_t byte, unsigned i) {
  if (!four_bit) return byte;
  return i % 2 == 0 ? byte >> 4 : byte & 0x0F;
}

// Moves x right, stopping at the width: nothing right of it is drawn, and the
// cap keeps a long hostile row from overflowing the counter.
uint32_t MoveRight(uint32_t x, unsigned by, uint32_t width) {
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{x} + by, width));
}

// Decodes run-length data, calling put(x, stored_row, index) for each pixel it
// sets; pixels beyond the row's end are dropped, not wrapped to the next row.
// Returns false when the data ends before the picture or the end-of-bitmap mark.
template <typename Put>
Result<bool> ForEachRunIndex(Bytes& file, const Header& header, Put&& put) {
  const bool four_bit = header.compression == Compression::Rle4;
  RunBytes pieces(file, header.pixel_offset);
  uint32_t x = 0;
  uint32_t y = 0;
  const auto draw = [&](unsigned count, auto index_of) {
    for (unsigned i = 0; i < count && x + i < header.width; ++i) put(x + i, y, index_of(i));
    x = MoveRight(x, count, header.width);
  };
  while (y < header.height) {
    ZAVO_TRY_ASSIGN(ByteReader * reader, pieces.Next());
    ByteReader& in = *reader;
    const uint8_t count = in.U8();
    const uint8_t code = in.U8();
    if (!in.ok()) return false;
    if (count > 0) {
      draw(count, [&](unsigned i) { return RunIndex(four_bit, code, i); });
    } else if (code == 0) {  // end of line
      x = 0;
      ++y;
    } else if (code == 1) {  // end of bitmap
      return true;
    } else if (code == 2) {  // delta: move right and up, skipping pixels
      x = MoveRight(x, in.U8(), header.width);
      y += in.U8();
      if (!in.ok()) return false;
    } else {  // absolute run of `code` indices, padded to an even byte count
      const size_t bytes = four_bit ? (code + 1u) / 2 : code;
      const auto run = in.Bytes(bytes + bytes % 2);
      if (!in.ok()) return false;
      draw(code, [&](unsigned i) { return RunIndex(four_bit, run[four_bit ? i / 2 : i], i); });
    }
  }
  return true;
}

// Says whether the data reached the end of the picture.
template <typename Put>
Result<bool> ForEachIndex(Bytes& file, const Header& header, Put&& put) {
  if (IsRunLength(header)) return ForEachRunIndex(file, header, put);
  ZAVO_TRY(ForEachPackedIndex(file, header, put));
  return true;
}

// The palette entries the pixels use; refuses indices beyond the palette
// rather than guessing a colour for them.
Result<std::array<bool, 256>> UsedEntries(Bytes& file, const Header& header,
                                          const std::string& name, bool* complete) {
  std::array<bool, 256> used{};
  ZAVO_TRY_ASSIGN(*complete, ForEachIndex(file, header,
                                          [&](uint32_t, uint32_t, unsigned i) { used[i] = true; }));
  for (size_t i = header.palette.size(); i < used.size(); ++i) {
    if (!used[i]) continue;
    return BmpError(ErrorKind::Malformed,
                    "pixels use palette entry " + std::to_string(i) + " but the palette has " +
                        std::to_string(header.palette.size()) + " entries",
                    name);
  }
  return used;
}

bool AllGray(const Header& header, const std::array<bool, 256>& used) {
  for (size_t i = 0; i < header.palette.size(); ++i) {
    const PaletteEntry& entry = header.palette[i];
    if (used[i] && (entry.red != entry.green || entry.green != entry.blue)) return false;
  }
  return true;
}

void FillWhite(Image& image) {
  const size_t used_bytes = size_t{image.width()} * BytesPerPixel(image.format());
  for (uint32_t y = 0; y < image.height(); ++y) std::memset(image.row(y), 0xFF, used_bytes);
}

// Two passes over the pixel data: the first finds the entries used, which
// decide between gray and colour, the second draws.
Result<Image> DecodeIndexed(Bytes& file, const Header& header, const std::string& name,
                            Warnings* warnings) {
  bool complete = true;
  ZAVO_TRY_ASSIGN(const auto used, UsedEntries(file, header, name, &complete));
  const bool gray = AllGray(header, used);
  auto image = Image::Create(header.width, header.height,
                             gray ? PixelFormat::Gray8 : PixelFormat::Bgr24, "BMP: " + name);
  if (!image) return image;
  if (IsRunLength(header)) FillWhite(*image);
  const auto& palette = header.palette;
  Result<bool> drawn = true;
  if (gray) {
    drawn = ForEachIndex(file, header, [&](uint32_t x, uint32_t y, unsigned i) {
      image->row(TopRow(header, y))[x] = palette[i].red;
    });
  } else {
    drawn = ForEachIndex(file, header, [&](uint32_t x, uint32_t y, unsigned i) {
      uint8_t* pixel = image->row(TopRow(header, y)) + 3 * size_t{x};
      pixel[0] = palette[i].blue;
      pixel[1] = palette[i].green;
      pixel[2] = palette[i].red;
    });
  }
  if (!drawn) return drawn.error();
  if (!complete && warnings != nullptr) {
    warnings->push_back("BMP: run-length data ends early; the rest is left white: " + name);
  }
  return image;
}

// One colour channel of a pixel word, scaled exactly to 0..255: v * 255 / max,
// rounded, so a full channel of any width becomes 255.
class Channel {
 public:
  explicit Channel(uint32_t mask)
      : mask_(mask), shift_(mask == 0 ? 0 : std::countr_zero(mask)), max_(mask >> shift_) {}

  bool present() const { return mask_ != 0; }
  uint8_t operator()(uint32_t word) const {
    if (max_ == 0) return 0;
    const uint64_t value = (word & mask_) >> shift_;
    return static_cast<uint8_t>((value * 255 + max_ / 2) / max_);
  }

 private:
  uint32_t mask_;
  unsigned shift_;
  uint64_t max_;
};

uint8_t OverWhite(uint8_t colour, uint8_t alpha) {
  return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

void ConvertMaskedRow(const uint8_t* src, unsigned bytes_per_pixel, uint32_t width,
                      const Masks& masks, uint8_t* dst) {
  const Channel red(masks.red), green(masks.green), blue(masks.blue), alpha(masks.alpha);
  for (uint32_t x = 0; x < width; ++x, src += bytes_per_pixel, dst += 3) {
    uint32_t word = src[0] | uint32_t{src[1]} << 8;
    if (bytes_per_pixel == 4) word |= uint32_t{src[2]} << 16 | uint32_t{src[3]} << 24;
    dst[0] = blue(word);
    dst[1] = green(word);
    dst[2] = red(word);
    if (!alpha.present()) continue;
    const uint8_t a = alpha(word);
    for (int c = 0; c < 3; ++c) dst[c] = OverWhite(dst[c], a);
  }
}

Result<Image> DecodeDirect(Bytes& file, const Header& header, const std::string& name) {
  auto image = Image::Create(header.width, header.height, PixelFormat::Bgr24, "BMP: " + name);
  if (!image) return image;
  for (uint32_t y = 0; y < header.height; ++y) {
    ZAVO_TRY_ASSIGN(const uint8_t* src, StoredRow(file, header, y));
    uint8_t* dst = image->row(TopRow(header, y));
    if (header.bits_per_pixel == 24) {
      std::memcpy(dst, src, size_t{header.width} * 3);
    } else {
      ConvertMaskedRow(src, header.bits_per_pixel / 8, header.width, header.masks, dst);
    }
  }
  return image;
}

}  // namespace

Result<std::span<const uint8_t>> MemoryBytes::At(uint64_t offset, size_t size) {
  if (offset >= data_.size()) return std::span<const uint8_t>();
  return data_.subspan(offset, std::min<uint64_t>(size, data_.size() - offset));
}

// A window is read from the first byte asked for on, so a pass from front to
// back reads each byte once.
Result<std::span<const uint8_t>> FileBytes::At(uint64_t offset, size_t size) {
  if (offset >= end_) return std::span<const uint8_t>();
  const uint64_t wanted = std::min<uint64_t>(size, end_ - offset);
  if (offset < window_start_ || offset + wanted > window_start_ + window_.size()) {
    const auto length = static_cast<size_t>(
        std::min<uint64_t>(std::max<uint64_t>(wanted, FileReadBytes()), end_ - offset));
    window_.resize(length);
    window_start_ = offset;
    ZAVO_TRY(file_.ReadAt(offset, window_));
  }
  return std::span<const uint8_t>(window_).subspan(offset - window_start_, wanted);
}

Result<Image> DecodeBmpPixels(Bytes& file, const Header& header, const std::string& name,
                              Warnings* warnings) {
  if (header.bits_per_pixel <= 8) return DecodeIndexed(file, header, name, warnings);
  return DecodeDirect(file, header, name);
}

}  // namespace zavo::bmp
