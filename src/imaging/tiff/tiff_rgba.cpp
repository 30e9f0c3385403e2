// Everything libtiff's RGBA interface reads well: palette, YCbCr, CMYK, CIE Lab,
// LogLuv, fax, 1- to 16-bit samples, tiles, separate planes.
// It runs band by band so the RGBA raster stays small whatever the picture.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "imaging/tiff/tiff_decode.h"

namespace zavo {
namespace {

constexpr uint64_t kMaxBandBytes = 64 << 20;
// Bands that split a strip must start on a whole row of YCbCr blocks.
constexpr uint32_t kLargestVerticalSubsampling = 4;

enum class AlphaMode { Ignore, Premultiplied, Straight };

// What libtiff's readers did with the first extra sample.
AlphaMode AlphaModeOf(const TiffLayout& layout) {
  if (layout.extra_samples == 0) return AlphaMode::Ignore;
  // Unnamed, the sample is left beside colour libtiff did not touch.
  if (layout.alpha_guessed) return AlphaMode::Straight;
  if (layout.alpha == EXTRASAMPLE_ASSOCALPHA) return AlphaMode::Premultiplied;
  if (layout.alpha == EXTRASAMPLE_UNASSALPHA) {
    // The contiguous 8-bit gray reader puts alpha beside unscaled gray; the
    // others premultiply, and the CMYK readers leave alpha at 255.
    const bool gray_contig = layout.gray() && layout.planar == PLANARCONFIG_CONTIG;
    return gray_contig ? AlphaMode::Straight : AlphaMode::Premultiplied;
  }
  // Unspecified extra samples mean nothing; libtiff calls them alpha all the
  // same, but leaves the colour as it is, so dropping alpha restores it.
  return AlphaMode::Ignore;
}

uint8_t OverWhite(unsigned colour, unsigned alpha, AlphaMode mode) {
  switch (mode) {
    case AlphaMode::Premultiplied:
      return OverWhitePremultiplied(colour, alpha);
    case AlphaMode::Straight:
      return OverWhiteStraight(colour, alpha);
    case AlphaMode::Ignore:
      break;
  }
  return static_cast<uint8_t>(colour);
}

uint32_t BandRows(const TiffLayout& layout) {
  const uint64_t fitting = kMaxBandBytes / (uint64_t{layout.width} * 4);
  if (layout.rows_per_strip <= fitting) return layout.rows_per_strip;
  // Rows in the middle of a strip cost a decode from the strip's start, but
  // only pictures thousands of pixels wide in one huge strip get here.
  return static_cast<uint32_t>(
      std::max<uint64_t>(kLargestVerticalSubsampling,
                         fitting / kLargestVerticalSubsampling * kLargestVerticalSubsampling));
}

void StoreBand(const uint32_t* raster, uint32_t rows, uint32_t top, AlphaMode mode, Image* image) {
  const uint32_t width = image->width();
  for (uint32_t i = 0; i < rows; ++i) {
    const uint32_t* in = raster + size_t{i} * width;
    uint8_t* out = image->row(top + i);
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t pixel = in[x];
      const unsigned alpha = TIFFGetA(pixel);
      if (image->format() == PixelFormat::Gray8) {
        out[x] = OverWhite(TIFFGetR(pixel), alpha, mode);
        continue;
      }
      out[3 * x] = OverWhite(TIFFGetB(pixel), alpha, mode);
      out[3 * x + 1] = OverWhite(TIFFGetG(pixel), alpha, mode);
      out[3 * x + 2] = OverWhite(TIFFGetR(pixel), alpha, mode);
    }
  }
}

struct RgbaImageEnd {
  void operator()(TIFFRGBAImage* state) const { TIFFRGBAImageEnd(state); }
};

}  // namespace

Result<Image> DecodeRgba(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  char reason[1024] = "";
  TIFFRGBAImage state{};
  // Not stopping on a failed strip: fax decoders fail a strip with only a
  // warning for a missing end-of-line; real errors reach the handler and fail.
  if (!TIFFRGBAImageOK(source.tif, reason) || !TIFFRGBAImageBegin(&state, source.tif, 0, reason)) {
    if (source.messages->failed()) return source.messages->Failure(reason);
    return source.messages->Refusal(ErrorKind::Unsupported, reason);
  }
  std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> end(&state);
  // Asking for the file's own orientation keeps libtiff from flipping anything.
  state.req_orientation = layout.orientation;
  auto image =
      Image::Create(layout.width, layout.height, layout.format, "TIFF: " + source.messages->name());
  if (!image) return image.error();
  const uint32_t band = BandRows(layout);
  std::vector<uint32_t> raster(size_t{layout.width} * band);
  const AlphaMode mode = AlphaModeOf(layout);
  for (uint32_t row = 0; row < layout.height; row += band) {
    const uint32_t rows = std::min(band, layout.height - row);
    state.row_offset = static_cast<int>(row);
    state.col_offset = 0;
    if (!TIFFRGBAImageGet(&state, raster.data(), layout.width, rows) || source.messages->failed()) {
      return source.messages->Failure("cannot read rows " + std::to_string(row) + " to " +
                                      std::to_string(row + rows - 1));
    }
    StoreBand(raster.data(), rows, row, mode, &image.value());
    ReportProgress(source.progress, row + rows, layout.height);
  }
  return image;
}

}  // namespace zavo
