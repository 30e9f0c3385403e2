#include "support/image_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "imaging/image_rows.h"
#include "imaging/orientation.h"

namespace zavo::testing {

std::vector<uint8_t> Bytes(const Image& image) {
  return {image.data(), image.data() + image.size_bytes()};
}

Image Noise(uint32_t width, uint32_t height, PixelFormat format) {
  Image image = Image::Create(width, height, format, "test").value();
  uint32_t state = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < size_t{width} * BytesPerPixel(format); ++x) {
      state = state * 1103515245 + 12345;
      image.row(y)[x] = static_cast<uint8_t>(state >> 24);
    }
  }
  return image;
}

RgbPicture ToRgb(const Image& stored) {
  Image upright;
  if (stored.orientation != 1) upright = UprightCopy(stored).value();
  const Image& image = stored.orientation != 1 ? upright : stored;
  RgbPicture picture{image.width(), image.height(), {}};
  picture.rgb.reserve(size_t{image.width()} * image.height() * 3);
  ImageRows rows(image);  // a transfer file's picture stays in its file
  RowBand band;
  for (uint32_t y = 0; y < image.height(); ++y) {
    band = rows.From(y, band).value();
    const uint8_t* row = band.row(y);
    for (uint32_t x = 0; x < image.width(); ++x) {
      if (image.format() == PixelFormat::Gray8) {
        picture.rgb.insert(picture.rgb.end(), {row[x], row[x], row[x]});
      } else {
        picture.rgb.insert(picture.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      }
    }
  }
  return picture;
}

// -strip drops the comment ImageMagick would copy from the file into the
// PPM header, after -auto-orient has used the orientation.
std::optional<RgbPicture> DecodeWithImageMagick(const std::string& path) {
  std::string out;
  if (RunCommand("convert '" + path +
                     "[0]' -auto-orient -background white -alpha remove -alpha off -depth 8 "
                     "-strip ppm:- 2>/dev/null",
                 &out) != 0) {
    return std::nullopt;
  }
  std::istringstream in(out);
  std::string magic;
  RgbPicture picture;
  unsigned maxval = 0;
  if (!(in >> magic >> picture.width >> picture.height >> maxval) || magic != "P6" ||
      maxval != 255 || in.get() == EOF) {
    return std::nullopt;
  }
  picture.rgb.resize(size_t{picture.width} * picture.height * 3);
  in.read(reinterpret_cast<char*>(picture.rgb.data()),
          static_cast<std::streamsize>(picture.rgb.size()));
  if (!in) return std::nullopt;
  return picture;
}

int MaxChannelDifference(const RgbPicture& a, const RgbPicture& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 255;
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    worst = std::max(worst, std::abs(int{a.rgb[i]} - int{b.rgb[i]}));
  }
  return worst;
}

double Psnr(const RgbPicture& a, const RgbPicture& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 0;
  double squares = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) squares += std::pow(int{a.rgb[i]} - int{b.rgb[i]}, 2);
  if (squares == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(255.0 * 255.0 * double(a.rgb.size()) / squares);
}

}  // namespace zavo::testing
