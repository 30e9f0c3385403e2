#include "imaging/bmp_codec.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/bmp_header.h"
#include "imaging/bmp_pixels.h"
#include "imaging/image_rows.h"
#include "imaging/orientation.h"
#include "imaging/parallel_rows.h"
#include "platform/file_io.h"

namespace zavo {
namespace {

constexpr uint32_t kHeadersSize = 14 + 40;  // BITMAPFILEHEADER + BITMAPINFOHEADER
constexpr size_t kBmpPieceBytes = size_t{16} << 20;

void PutU16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// The resolution fields are signed; a value beyond them would read back negative.
uint32_t Resolution(uint32_t pixels_per_metre) {
  return std::min<uint32_t>(pixels_per_metre, std::numeric_limits<int32_t>::max());
}

// Headers and, for gray pictures, a palette mapping each index to its gray;
// for the picture as it is seen, so a turned one has its sides and its
// resolution swapped.
std::vector<uint8_t> HeadersFor(const Image& image) {
  const bool gray = image.format() == PixelFormat::Gray8;
  const uint32_t pixel_offset = kHeadersSize + (gray ? 256 * 4 : 0);
  const uint32_t width = ShownWidth(image);
  const uint32_t height = ShownHeight(image);
  const bool swap = SwapsAxes(SaneOrientation(image.orientation));
  const uint32_t x_resolution = swap ? image.y_pixels_per_metre : image.x_pixels_per_metre;
  const uint32_t y_resolution = swap ? image.x_pixels_per_metre : image.y_pixels_per_metre;
  const uint64_t stride = BmpRowStride(width, gray ? 8 : 24);
  const auto image_size = static_cast<uint32_t>(stride * height);
  std::vector<uint8_t> out{'B', 'M'};      // bfType
  PutU32(out, pixel_offset + image_size);  // bfSize
  PutU32(out, 0);                          // bfReserved1, bfReserved2
  PutU32(out, pixel_offset);               // bfOffBits
  PutU32(out, kHeadersSize - 14);          // biSize
  PutU32(out, width);                      // biWidth
  PutU32(out, height);                     // biHeight: positive, rows bottom-up
  PutU16(out, 1);                          // biPlanes
  PutU16(out, gray ? 8 : 24);              // biBitCount
  PutU32(out, 0);                          // biCompression: BI_RGB
  PutU32(out, image_size);                 // biSizeImage
  PutU32(out, Resolution(x_resolution));   // biXPelsPerMeter
  PutU32(out, Resolution(y_resolution));   // biYPelsPerMeter
  PutU32(out, gray ? 256 : 0);             // biClrUsed
  PutU32(out, 0);                          // biClrImportant
  for (uint32_t level = 0; gray && level < 256; ++level) PutU32(out, level * 0x010101);
  return out;
}

// Rows are stored as they were decoded; a picture that is to be turned or
// mirrored is turned here, piece by piece on the way out, on all cores. The
// piece is small beside the picture, which is all the memory an import may
// hold besides a few MiB.
Result<void> WriteTurnedPixels(AtomicFile* file, const Image& image, Progress* progress) {
  const uint32_t height = ShownHeight(image);
  const size_t stride = BmpRowStride(ShownWidth(image), BytesPerPixel(image.format()) * 8);
  const size_t rows_per_piece = std::clamp<size_t>((size_t{4} << 20) / stride, 1, height);
  std::vector<uint8_t> piece(rows_per_piece * stride);
  for (size_t written = 0; written < height; written += rows_per_piece) {
    const auto rows = static_cast<uint32_t>(std::min<size_t>(rows_per_piece, height - written));
    // File row `written` + j is the seen row height - 1 - written - j.
    const auto top = static_cast<uint32_t>(height - written - rows);
    ForEachRowBand(rows, stride, [&](uint32_t first, uint32_t count) {
      CopyShownRows(image, top + rows - first - count, count, true, piece.data() + first * stride,
                    stride);
    });
    ZAVO_TRY(file->Write(piece.data(), rows * stride));
    ReportProgress(progress, written + rows, height);
  }
  return {};
}

Result<Image> DecodePixels(bmp::Bytes& bytes, const bmp::Header& header, const std::string& name,
                           Warnings* warnings) {
  auto image = bmp::DecodeBmpPixels(bytes, header, name, warnings);
  if (!image) return image;
  image->x_pixels_per_metre = header.x_pixels_per_metre;
  image->y_pixels_per_metre = header.y_pixels_per_metre;
  return image;
}

bool IsGrayRamp(const std::vector<bmp::PaletteEntry>& palette) {
  if (palette.size() != 256) return false;
  for (size_t level = 0; level < palette.size(); ++level) {
    const bmp::PaletteEntry& entry = palette[level];
    if (entry.blue != level || entry.green != level || entry.red != level) return false;
  }
  return true;
}

// Rows an Image can leave in the file: bottom-up, uncompressed, and either
// BGR (what the host and we write) or indices that are their own gray.
std::optional<PixelFormat> InPlaceFormat(const bmp::Header& header) {
  if (header.top_down || header.compression != bmp::Compression::None) return std::nullopt;
  if (header.bits_per_pixel == 24) return PixelFormat::Bgr24;
  if (header.bits_per_pixel == 8 && IsGrayRamp(header.palette)) return PixelFormat::Gray8;
  return std::nullopt;
}

// The first bytes of the file, which hold every header and the palette.
Result<std::vector<uint8_t>> ReadHead(const FileReader& file) {
  std::vector<uint8_t> head(std::min<uint64_t>(file.size(), bmp::kHeadBytes));
  ZAVO_TRY(file.ReadAt(0, head));
  return head;
}

}  // namespace

Result<Image> DecodeBmp(std::span<const uint8_t> data, const std::string& name,
                        Warnings* warnings) {
  ZAVO_TRY_ASSIGN(const bmp::Header header, bmp::ReadBmpHeader(data, data.size(), name));
  bmp::MemoryBytes bytes(data);
  return DecodePixels(bytes, header, name, warnings);
}

// A picture in the Image's own layout stays in the file, its rows read by
// whoever writes it (see image_rows.h); any other is decoded through a
// window of the file that moves from front to back. Either way memory
// follows the picture, not the file, whatever lies after its end.
Result<Image> LoadBmpFile(const std::string& path, Warnings* warnings, Progress* progress) {
  ZAVO_TRY_ASSIGN(FileReader opened, FileReader::Open(path));
  auto file = std::make_unique<const FileReader>(std::move(opened));
  ZAVO_TRY_ASSIGN(const std::vector<uint8_t> head, ReadHead(*file));
  ZAVO_TRY_ASSIGN(const bmp::Header header, bmp::ReadBmpHeader(head, file->size(), path));
  if (const auto format = InPlaceFormat(header)) {
    Image image =
        Image::InFile(header.width, header.height, *format, std::move(file), header.pixel_offset);
    image.x_pixels_per_metre = header.x_pixels_per_metre;
    image.y_pixels_per_metre = header.y_pixels_per_metre;
    ReportProgress(progress, image.height(), image.height());
    return image;
  }
  bmp::FileBytes bytes(*file, bmp::PictureExtent(head, file->size()));
  auto image = DecodePixels(bytes, header, path, warnings);
  if (image) ReportProgress(progress, image->height(), image->height());
  return image;
}

namespace {

// Rows already in file order go out as they lie: large pieces keep the
// system calls few while a progress display still sees the rows go out. A
// picture in its file comes a band at a time.
Result<void> WriteStoredPixels(AtomicFile* file, const Image& image, Progress* progress) {
  ImageRows rows(image);
  const size_t rows_per_piece =
      std::min<size_t>(rows.rows_per_band(), std::max<size_t>(1, kBmpPieceBytes / image.stride()));
  // File row `written` is the picture's row height - 1 - written.
  for (size_t written = 0; written < image.height(); written += rows_per_piece) {
    const auto count = static_cast<uint32_t>(std::min(rows_per_piece, image.height() - written));
    const auto top = static_cast<uint32_t>(image.height() - written - count);
    ZAVO_TRY_ASSIGN(const RowBand band, rows.Rows(top, count));
    ZAVO_TRY(file->Write(band.bottom, count * image.stride()));
    ReportProgress(progress, written + count, image.height());
  }
  return {};
}

}  // namespace

// The Image already holds BMP rows, so the pixels go out as they are, after
// the headers; a picture to be turned is turned on the way.
Result<void> SaveBmpFile(const std::string& path, const Image& image, Progress* progress) {
  if (image.width() == 0 || image.height() == 0) {
    return Error(ErrorKind::Internal, "BMP: no picture to write: " + path);
  }
  const bool upright = SaneOrientation(image.orientation) == kUpright;
  if (!upright && !image.in_memory()) {
    ZAVO_TRY_ASSIGN(const Image turned, UprightCopy(image));
    return SaveBmpFile(path, turned, progress);
  }
  const std::vector<uint8_t> headers = HeadersFor(image);
  ZAVO_TRY_ASSIGN(AtomicFile file, AtomicFile::Create(path));
  ZAVO_TRY(file.Write(headers.data(), headers.size()));
  if (upright) {
    ZAVO_TRY(WriteStoredPixels(&file, image, progress));
  } else {
    ZAVO_TRY(WriteTurnedPixels(&file, image, progress));
  }
  return file.Commit(Durability::Renamed);
}

}  // namespace zavo
