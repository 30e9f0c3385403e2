// The common case at full speed: libtiff decodes each row of an 8-bit gray or
// RGB strip straight into the picture's own row, which is then turned around in
// place (RGB to BGR, min-is-white to min-is-black). No RGBA raster, no copy.
#include <string>
#include <utility>
#include <vector>

#include "imaging/tiff_decode.h"

namespace zavo {
namespace {

void InvertRow(uint8_t* row, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
}

void SwapRedAndBlue(uint8_t* row, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, row += 3) std::swap(row[0], row[2]);
}

void CopyRgbaAsBgr(const uint8_t* in, uint8_t* out, uint32_t width, uint16_t alpha) {
  for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t colour = in[2 - c];
      if (alpha == EXTRASAMPLE_ASSOCALPHA) {
        out[c] = OverWhitePremultiplied(colour, in[3]);
      } else if (alpha == EXTRASAMPLE_UNASSALPHA) {
        out[c] = OverWhiteStraight(colour, in[3]);
      } else {
        out[c] = colour;  // an unspecified extra sample means nothing
      }
    }
  }
}

}  // namespace

bool FastRouteTakes(const TiffLayout& layout) {
  if (layout.tiled || layout.bits != 8) return false;
  if (layout.sample_format != SAMPLEFORMAT_UINT && layout.sample_format != SAMPLEFORMAT_VOID) {
    return false;
  }
  // Old-style JPEG does its own colour conversion; leave it to the RGBA interface.
  if (layout.compression == COMPRESSION_OJPEG) return false;
  if (layout.photometric == PHOTOMETRIC_MINISBLACK ||
      layout.photometric == PHOTOMETRIC_MINISWHITE) {
    return layout.samples == 1;
  }
  if (layout.planar != PLANARCONFIG_CONTIG) return false;
  if (layout.photometric == PHOTOMETRIC_RGB) return layout.samples == 3 || layout.samples == 4;
  // With JPEGCOLORMODE_RGB set, libjpeg hands back RGB rows.
  return layout.photometric == PHOTOMETRIC_YCBCR && layout.compression == COMPRESSION_JPEG &&
         layout.samples == 3;
}

Result<Image> DecodeFast(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  const uint64_t row_bytes = uint64_t{layout.width} * layout.samples;
  auto image = CreatePicture(source, row_bytes, true);
  if (!image) return image.error();
  // Four samples do not fit a three-byte-a-pixel row: those go through a buffer.
  std::vector<uint8_t> rgba(layout.samples == 4 ? row_bytes : 0);
  for (uint32_t y = 0; y < layout.height; ++y) {
    uint8_t* row = image->row(y);
    if (TIFFReadScanline(source.tif, rgba.empty() ? row : rgba.data(), y, 0) < 0) {
      return source.messages->Failure("cannot read row " + std::to_string(y));
    }
    if (layout.photometric == PHOTOMETRIC_MINISWHITE) {
      InvertRow(row, layout.width);
    } else if (!rgba.empty()) {
      CopyRgbaAsBgr(rgba.data(), row, layout.width, layout.alpha);
    } else if (!layout.gray()) {
      SwapRedAndBlue(row, layout.width);
    }
    if ((y + 1) % layout.rows_per_strip == 0 || y + 1 == layout.height) {
      ReleaseDecodedStrip(source.tif, y / layout.rows_per_strip);
    }
    ReportRows(source, y + 1, layout.height);
  }
  return image;
}

}  // namespace zavo
