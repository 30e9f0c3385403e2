#include "imaging/bmp_header.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <limits>

#include "imaging/image.h"
#include "platform/byte_reader.h"

namespace zavo::bmp {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;  // BITMAPCOREHEADER, OS/2 version 1
constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr uint32_t kV2HeaderSize = 52;    // adds red, green and blue masks
constexpr uint32_t kV3HeaderSize = 56;    // adds the alpha mask
constexpr uint32_t kOs2MaxHeaderSize = 64;

// Compression codes as stored; OS/2 gives 3 and 4 other meanings.
enum : uint32_t {
  kBiRgb = 0,
  kBiRle8 = 1,
  kBiRle4 = 2,
  kBiBitfields = 3,  // OS/2: Huffman 1D
  kBiJpeg = 4,       // OS/2: RLE24
  kBiPng = 5,
  kBiAlphaBitfields = 6,
};

// The fields of any header version, widened so none can overflow when checked.
struct InfoFields {
  uint32_t header_size = 0;
  int64_t width = 0;
  int64_t height = 0;
  uint16_t planes = 0;
  uint16_t bits_per_pixel = 0;
  uint32_t compression = kBiRgb;
  int32_t x_pixels_per_metre = 0;
  int32_t y_pixels_per_metre = 0;
  uint32_t colours_used = 0;
  uint32_t size_field = 0;  // the file header's idea of the file size
  uint32_t pixel_offset = 0;
  Masks masks;  // from a V2 or later header; the fields after a 40-byte one are read apart
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Sizes 16 to 64 other than Windows' 40, 52 and 56 can only be OS/2 version 2
// headers, cut short anywhere after the bits-per-pixel field.
bool IsOs2Header(uint32_t size) {
  return size == kCoreHeaderSize ||
         (size >= 16 && size <= kOs2MaxHeaderSize && size != kInfoHeaderSize &&
          size != kV2HeaderSize && size != kV3HeaderSize);
}

bool IsKnownHeaderSize(uint32_t size) {
  return size == kCoreHeaderSize || (size >= 16 && size <= kOs2MaxHeaderSize) || size == 108 ||
         size == 124;
}

Result<void> CheckMagic(std::span<const uint8_t> file, const std::string& name) {
  if (file.size() < kFileHeaderSize + 4) {
    return BmpError(ErrorKind::Truncated,
                    "file of " + std::to_string(file.size()) + " bytes is too short for a header",
                    name);
  }
  const std::string magic(file.begin(), file.begin() + 2);
  if (magic == "BM") return {};
  for (const char* os2 : {"BA", "CI", "CP", "IC", "PT"}) {
    if (magic == os2) {
      return BmpError(ErrorKind::Unsupported,
                      "OS/2 bitmap array, icon and pointer files (\"" + magic + "\") are not read",
                      name);
    }
  }
  return BmpError(ErrorKind::Malformed, "not a BMP file (no \"BM\" signature)", name);
}

Result<void> CheckPixelOffset(uint64_t file_size, uint32_t pixel_offset, uint32_t header_size,
                              const std::string& name) {
  if (pixel_offset >= kFileHeaderSize + header_size && pixel_offset <= file_size) return {};
  return BmpError(ErrorKind::Malformed,
                  "pixel data offset " + std::to_string(pixel_offset) + " lies outside " +
                      std::to_string(kFileHeaderSize + header_size) + ".." +
                      std::to_string(file_size),
                  name);
}

// Where uncompressed pixel data ends; 0 for run-length data, whose end only
// its codes tell.
uint64_t PixelDataEnd(const Header& header) {
  if (header.compression == Compression::Rle8 || header.compression == Compression::Rle4) return 0;
  return header.pixel_offset + BmpRowStride(header.width, header.bits_per_pixel) * header.height;
}

// The size field is unreliable: OS/2 writers put the size of the headers
// there, others 0. A size beyond the file means it was cut short, one inside
// the pixel data that something was appended; both are refused. A size that
// ends exactly where the pixel data does (as ours and the host's do) marks
// the picture's end: whatever follows it is something else's, never read,
// however long.
Result<void> CheckSizeField(uint64_t file_size, const InfoFields& info, const Header& header,
                            const std::string& name) {
  if (info.size_field > file_size) {
    return BmpError(ErrorKind::Truncated,
                    "file is cut short: " + std::to_string(file_size) + " bytes of the " +
                        std::to_string(info.size_field) + " the header gives",
                    name);
  }
  if (info.size_field > info.pixel_offset && info.size_field < file_size &&
      info.size_field != PixelDataEnd(header)) {
    return BmpError(ErrorKind::Malformed,
                    "file has " + std::to_string(file_size - info.size_field) +
                        " bytes after the end the header gives (" +
                        std::to_string(info.size_field) + ")",
                    name);
  }
  return {};
}

InfoFields ReadInfoFields(ByteReader& in, uint32_t header_size) {
  InfoFields info;
  info.header_size = header_size;
  if (header_size == kCoreHeaderSize) {
    info.width = in.U16();
    info.height = in.U16();
    info.planes = in.U16();
    info.bits_per_pixel = in.U16();
    return info;
  }
  info.width = in.I32();
  info.height = in.I32();
  info.planes = in.U16();
  info.bits_per_pixel = in.U16();
  // An OS/2 version 2 header may end after any field; absent ones count as 0.
  const auto field = [&](uint32_t end) { return header_size >= end ? in.U32() : 0; };
  info.compression = field(20);
  field(24);  // size of the pixel data: unreliable, computed instead
  info.x_pixels_per_metre = static_cast<int32_t>(field(28));
  info.y_pixels_per_metre = static_cast<int32_t>(field(32));
  info.colours_used = field(36);
  field(40);  // important colours
  if (!IsOs2Header(header_size) && header_size >= kV2HeaderSize) {
    info.masks.red = in.U32();
    info.masks.green = in.U32();
    info.masks.blue = in.U32();
    if (header_size >= kV3HeaderSize) info.masks.alpha = in.U32();
  }
  return info;
}

Result<void> CheckDimensions(const InfoFields& info, Header& header, const std::string& name) {
  if (info.width <= 0) {
    return BmpError(ErrorKind::Malformed,
                    "width " + std::to_string(info.width) + " is not a positive number", name);
  }
  // Negating INT32_MIN would overflow a 32-bit field: refuse it by value.
  if (info.height == 0 || info.height == std::numeric_limits<int32_t>::min()) {
    return BmpError(ErrorKind::Malformed,
                    "height " + std::to_string(info.height) + " is not a picture height", name);
  }
  const int64_t height = info.height < 0 ? -info.height : info.height;
  if (info.width > kMaxImageSide || height > kMaxImageSide ||
      static_cast<uint64_t>(info.width * height) > kMaxImagePixels) {
    return BmpError(ErrorKind::TooLarge,
                    "header claims " + std::to_string(info.width) + " x " + std::to_string(height) +
                        " pixels (limit " + std::to_string(kMaxImageSide) + " per side, " +
                        std::to_string(kMaxImagePixels) + " in all)",
                    name);
  }
  header.width = static_cast<uint32_t>(info.width);
  header.height = static_cast<uint32_t>(height);
  header.top_down = info.height < 0;
  return {};
}

Error Unsupported(const std::string& what, const std::string& name) {
  return BmpError(ErrorKind::Unsupported, what + " is not supported", name);
}

Result<Compression> CheckCompression(const InfoFields& info, const std::string& name) {
  const bool os2 = IsOs2Header(info.header_size);
  switch (info.compression) {
    case kBiRgb:
      return Compression::None;
    case kBiRle8:
      return Compression::Rle8;
    case kBiRle4:
      return Compression::Rle4;
    case kBiBitfields:
      if (os2) return Unsupported("OS/2 Huffman 1D compression", name);
      return Compression::Bitfields;
    case kBiJpeg:
      if (os2) return Unsupported("OS/2 RLE24 compression", name);
      return Unsupported("an embedded JPEG picture", name);
    case kBiPng:
      return Unsupported("an embedded PNG picture", name);
    case kBiAlphaBitfields:
      return Compression::Bitfields;
    case 11:
    case 12:
    case 13:
      return Unsupported("CMYK compression", name);
    default:
      return BmpError(ErrorKind::Malformed,
                      "unknown compression code " + std::to_string(info.compression), name);
  }
}

Result<void> CheckBitsPerPixel(unsigned bits, Compression compression, const std::string& name) {
  const std::string depth = std::to_string(bits) + " bits per pixel";
  if (bits == 64) return Unsupported(depth, name);
  const bool known =
      bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (!known) return BmpError(ErrorKind::Malformed, depth + " is not a BMP pixel size", name);
  const bool fits = compression == Compression::None ||
                    (compression == Compression::Rle8 && bits == 8) ||
                    (compression == Compression::Rle4 && bits == 4) ||
                    (compression == Compression::Bitfields && (bits == 16 || bits == 32));
  if (!fits) return BmpError(ErrorKind::Malformed, "compression does not fit " + depth, name);
  return {};
}

// A mask must be one run of set bits, or the scaling to 8 bits means nothing.
Result<void> CheckMask(uint32_t mask, const std::string& name) {
  if (mask == 0) return {};
  const uint64_t run = mask >> std::countr_zero(mask);
  if ((run & (run + 1)) == 0) return {};
  return BmpError(ErrorKind::Malformed, "colour mask " + Hex(mask) + " is not one run of bits",
                  name);
}

Masks DefaultMasks(unsigned bits) {
  if (bits == 16) return {0x7C00, 0x03E0, 0x001F, 0};  // 5-5-5, top bit unused
  return {0xFF0000, 0x00FF00, 0x0000FF, 0};            // the fourth byte is ignored
}

// Returns the bytes the masks take after a 40-byte header.
Result<size_t> ReadMasks(std::span<const uint8_t> file, const InfoFields& info, Header& header,
                         const std::string& name) {
  header.masks = DefaultMasks(header.bits_per_pixel);
  if (header.compression != Compression::Bitfields) return size_t{0};
  header.masks = info.masks;
  size_t extra = 0;
  if (info.header_size == kInfoHeaderSize) {
    extra = info.compression == kBiAlphaBitfields ? 16 : 12;
    if (kFileHeaderSize + kInfoHeaderSize + extra > header.pixel_offset) {
      return BmpError(ErrorKind::Malformed, "colour masks run into the pixel data", name);
    }
    ByteReader in(file, kFileHeaderSize + kInfoHeaderSize);
    header.masks = {in.U32(), in.U32(), in.U32(), extra == 16 ? in.U32() : 0};
  }
  for (uint32_t mask :
       {header.masks.red, header.masks.green, header.masks.blue, header.masks.alpha}) {
    ZAVO_TRY(CheckMask(mask, name));
  }
  return extra;
}

// Files in the wild store palettes shorter than they declare and point the
// pixel offset past them, so the palette is what fits before the pixels.
Result<void> ReadPalette(std::span<const uint8_t> file, const InfoFields& info, size_t start,
                         Header& header, const std::string& name) {
  if (header.bits_per_pixel > 8) return {};
  const uint32_t most = 1u << header.bits_per_pixel;
  const uint32_t declared = info.colours_used == 0 ? most : info.colours_used;
  if (declared > most) {
    return BmpError(ErrorKind::Malformed,
                    "palette of " + std::to_string(declared) + " colours for " +
                        std::to_string(header.bits_per_pixel) + "-bit pixels (at most " +
                        std::to_string(most) + ")",
                    name);
  }
  const size_t entry_size = info.header_size == kCoreHeaderSize ? 3 : 4;
  const size_t room = (header.pixel_offset - start) / entry_size;
  header.palette.resize(std::min<size_t>(declared, room));
  ByteReader in(file, start);
  for (PaletteEntry& entry : header.palette) {
    entry = {in.U8(), in.U8(), in.U8()};
    in.Skip(entry_size - 3);
  }
  return {};
}

Result<void> CheckPixelBytes(uint64_t file_size, const Header& header, const std::string& name) {
  if (header.compression == Compression::Rle8 || header.compression == Compression::Rle4) {
    return {};  // run-length data may end early; the decoder copes
  }
  const uint64_t needed = BmpRowStride(header.width, header.bits_per_pixel) * header.height;
  const uint64_t present = file_size > header.pixel_offset ? file_size - header.pixel_offset : 0;
  if (needed <= present) return {};
  return BmpError(ErrorKind::Truncated,
                  "pixel data needs " + std::to_string(needed) + " bytes but the file has " +
                      std::to_string(present),
                  name);
}

// The file header, then the info header of whichever version the size names.
Result<InfoFields> ReadHeaders(std::span<const uint8_t> file, uint64_t file_size,
                               const std::string& name) {
  ZAVO_TRY(CheckMagic(file, name));
  ByteReader in(file, 2);
  const uint32_t size_field = in.U32();
  in.Skip(4);  // reserved, or an OS/2 hot spot
  const uint32_t pixel_offset = in.U32();
  const uint32_t header_size = in.U32();
  if (!IsKnownHeaderSize(header_size)) {
    return BmpError(ErrorKind::Malformed,
                    "header size " + std::to_string(header_size) + " is not a known BMP version",
                    name);
  }
  ZAVO_TRY(CheckPixelOffset(file_size, pixel_offset, header_size, name));
  InfoFields info = ReadInfoFields(in, header_size);
  info.size_field = size_field;
  info.pixel_offset = pixel_offset;
  return info;
}

// Size, planes, compression and depth: what the picture is, before any allocation.
Result<void> CheckPicture(const InfoFields& info, Header& header, const std::string& name) {
  ZAVO_TRY(CheckDimensions(info, header, name));
  if (info.planes != 1) {
    return BmpError(ErrorKind::Malformed,
                    "plane count is " + std::to_string(info.planes) + ", not 1", name);
  }
  ZAVO_TRY_ASSIGN(header.compression, CheckCompression(info, name));
  const bool run_length =
      header.compression == Compression::Rle8 || header.compression == Compression::Rle4;
  if (run_length && header.top_down) {
    return BmpError(ErrorKind::Malformed, "run-length coded pictures cannot be stored top-down",
                    name);
  }
  header.bits_per_pixel = info.bits_per_pixel;
  return CheckBitsPerPixel(header.bits_per_pixel, header.compression, name);
}

}  // namespace

Error BmpError(ErrorKind kind, const std::string& defect, const std::string& name) {
  return Error(kind, "BMP: " + defect + ": " + name);
}

Result<Header> ReadBmpHeader(std::span<const uint8_t> file, uint64_t file_size,
                             const std::string& name) {
  ZAVO_TRY_ASSIGN(const auto info, ReadHeaders(file, file_size, name));
  Header header;
  header.pixel_offset = info.pixel_offset;
  ZAVO_TRY(CheckPicture(info, header, name));
  ZAVO_TRY_ASSIGN(const auto mask_bytes, ReadMasks(file, info, header, name));
  const size_t palette_start = kFileHeaderSize + info.header_size + mask_bytes;
  ZAVO_TRY(ReadPalette(file, info, palette_start, header, name));
  ZAVO_TRY(CheckSizeField(file_size, info, header, name));
  ZAVO_TRY(CheckPixelBytes(file_size, header, name));
  header.x_pixels_per_metre = static_cast<uint32_t>(std::max(info.x_pixels_per_metre, 0));
  header.y_pixels_per_metre = static_cast<uint32_t>(std::max(info.y_pixels_per_metre, 0));
  return header;
}

uint64_t PictureExtent(std::span<const uint8_t> head, uint64_t file_size) {
  ByteReader in(head, 2);
  const uint32_t size_field = in.U32();
  in.Skip(4);
  const uint32_t pixel_offset = in.U32();
  const uint32_t header_size = in.U32();
  InfoFields info = ReadInfoFields(in, header_size);
  const int64_t height = info.height < 0 ? -info.height : info.height;
  const bool sane = in.ok() && head[0] == 'B' && head[1] == 'M' && info.width > 0 &&
                    info.width <= kMaxImageSide && height <= kMaxImageSide &&
                    info.bits_per_pixel <= 64;
  if (!sane) return file_size;
  if (info.compression == kBiRle8 || info.compression == kBiRle4) {
    return size_field > pixel_offset ? std::min<uint64_t>(size_field, file_size) : file_size;
  }
  const uint64_t end =
      pixel_offset + BmpRowStride(static_cast<uint64_t>(info.width), info.bits_per_pixel) *
                         static_cast<uint64_t>(height);
  // The headers, masks and palette are read too, even where a broken offset
  // puts the pixels before them.
  return std::min<uint64_t>(std::max<uint64_t>(end, head.size()), file_size);
}

}  // namespace zavo::bmp
