#include "imaging/bmp_codec.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/bmp_header.h"
#include "imaging/bmp_pixels.h"
#include "imaging/orientation.h"
#include "imaging/parallel_rows.h"
#include "platform/file_io.h"

namespace zavo {
namespace {

constexpr uint32_t kHeadersSize = 14 + 40;  // BITMAPFILEHEADER + BITMAPINFOHEADER

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

Result<Image> DecodePixels(std::span<const uint8_t> data, const bmp::Header& header,
                           const std::string& name, Warnings* warnings,
                           const bmp::ReleaseBytes& release) {
  auto image = bmp::DecodeBmpPixels(data, header, name, warnings, release);
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

// Rows the Image can use where they lie: bottom-up, uncompressed, and either
// BGR (what the host and we write) or indices that are their own gray.
std::optional<PixelFormat> InPlaceFormat(const bmp::Header& header) {
  if (header.top_down || header.compression != bmp::Compression::None) return std::nullopt;
  if (header.bits_per_pixel == 24) return PixelFormat::Bgr24;
  if (header.bits_per_pixel == 8 && IsGrayRamp(header.palette)) return PixelFormat::Gray8;
  return std::nullopt;
}

// The picture stays in the mapped file: no second copy of it. Its pages come
// in and go back as a writer says how far it is (see ImgKit's savers); the
// first rows a writer reads, the top ones, are asked for now. A file cut
// short from now on is caught when the written file is committed (see
// AtomicFile).
Image ViewInPlace(std::shared_ptr<MappedFile> file, const bmp::Header& header, PixelFormat format) {
  const size_t offset = header.pixel_offset;
  PixelPages pages{[file = file.get(), offset](size_t from, size_t to) {
                     file->Prefetch(offset + from, offset + to);
                   },
                   [file = file.get(), offset](size_t from, size_t to) {
                     file->Release(offset + from, offset + to);
                   }};
  const uint8_t* pixels = file->bytes().data() + offset;
  Image image =
      Image::View(header.width, header.height, format, pixels, std::move(file), std::move(pages));
  image.PrefetchRows(0, RowsPerPageStep(image));
  image.x_pixels_per_metre = header.x_pixels_per_metre;
  image.y_pixels_per_metre = header.y_pixels_per_metre;
  return image;
}

}  // namespace

Result<Image> DecodeBmp(std::span<const uint8_t> data, const std::string& name,
                        Warnings* warnings) {
  ZAVO_TRY_ASSIGN(const bmp::Header header, bmp::ReadBmpHeader(data, data.size(), name));
  return DecodePixels(data, header, name, warnings, {});
}

// Only the picture's part of the file is mapped. A picture in the Image's own
// layout is used where it lies; any other is decoded with its pages coming in
// a step ahead of the decoder and going back once it is past them. Either way
// memory follows the picture, not the file, whatever lies after its end.
Result<Image> LoadBmpFile(const std::string& path, Warnings* warnings, Progress* progress) {
  auto file = MappedFile::OpenFront(path, bmp::PictureExtent);
  if (!file) return file.error();
  const auto header = bmp::ReadBmpHeader(file->bytes(), file->file_size(), path);
  if (!header) {
    ZAVO_TRY(file->Intact(path));
    return header.error();
  }
  if (const auto format = InPlaceFormat(header.value())) {
    Image image =
        ViewInPlace(std::make_shared<MappedFile>(std::move(file).value()), header.value(), *format);
    ReportProgress(progress, image.height(), image.height());
    return image;
  }
  file->Prefetch(0, bmp::kReleaseStep);
  const auto release = [&](size_t from, size_t to) {
    file->Release(from, to);
    file->Prefetch(to, to + bmp::kReleaseStep);
  };
  auto image = DecodePixels(file->bytes(), header.value(), path, warnings, release);
  ZAVO_TRY(file->Intact(path));
  if (image) ReportProgress(progress, image->height(), image->height());
  return image;
}

// The Image already holds BMP rows, so the pixels go out as they are, in the
// same write as the headers.
Result<void> SaveBmpFile(const std::string& path, const Image& image, Progress* progress) {
  if (image.data() == nullptr) {
    return Error(ErrorKind::Internal, "BMP: no picture to write: " + path);
  }
  const std::vector<uint8_t> headers = HeadersFor(image);
  ZAVO_TRY_ASSIGN(AtomicFile file, AtomicFile::Create(path));
  ZAVO_TRY(file.Write(headers.data(), headers.size()));
  if (SaneOrientation(image.orientation) != kUpright) {
    ZAVO_TRY(WriteTurnedPixels(&file, image, progress));
    return file.Commit(Durability::Renamed);
  }
  // The pixels are already in file order; large pieces keep the system calls
  // few while a progress display still sees the rows go out.
  const size_t rows_per_piece = std::max<size_t>(1, (size_t{16} << 20) / image.stride());
  for (size_t row = 0; row < image.height(); row += rows_per_piece) {
    const size_t rows = std::min<size_t>(rows_per_piece, image.height() - row);
    ZAVO_TRY(file.Write(image.data() + row * image.stride(), rows * image.stride()));
    ReportProgress(progress, row + rows, image.height());
  }
  return file.Commit(Durability::Renamed);
}

}  // namespace zavo
