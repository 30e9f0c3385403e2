// Helpers for the tests of the imaging layer and above: whole pictures,
// progress reports and an independent decoder (ImageMagick) as an oracle.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "imaging/progress.h"
#include "support/test_support.h"

namespace zavo::testing {

// The pixel bytes of an image, to compare whole pictures.
std::vector<uint8_t> Bytes(const Image& image);

// A picture no codec finds easy, the same each time for the same size; the
// rows' padding stays zero, as a decoder leaves it.
Image Noise(uint32_t width, uint32_t height, PixelFormat format);

// Every report a decoder or encoder makes.
class RecordingProgress : public Progress {
 public:
  void Advance(uint64_t done, uint64_t total) override { reports.emplace_back(done, total); }
  std::vector<std::pair<uint64_t, uint64_t>> reports;
};

// A picture as 8-bit RGB rows, top row first: what tests compare.
struct RgbPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};

// As the picture is seen: turned by its orientation.
RgbPicture ToRgb(const Image& image);

// Decodes the first frame with ImageMagick, turned upright by its
// orientation, alpha flattened onto white; embedded profiles are not applied.
std::optional<RgbPicture> DecodeWithImageMagick(const std::string& path);

// The largest difference of any channel of any pixel (255 for a size mismatch).
int MaxChannelDifference(const RgbPicture& a, const RgbPicture& b);
// Peak signal to noise in dB (infinity when equal, 0 for a size mismatch).
double Psnr(const RgbPicture& a, const RgbPicture& b);

}  // namespace zavo::testing
