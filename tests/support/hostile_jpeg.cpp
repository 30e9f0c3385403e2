#include "hostile_jpeg.h"

#include <algorithm>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace zavo::testing {
namespace {

size_t FindLastMarker(const std::vector<uint8_t>& bytes, uint8_t code) {
  for (size_t i = bytes.size() - 1; i > 0; --i) {
    if (bytes[i - 1] == 0xFF && bytes[i] == code) return i - 1;
  }
  return 0;
}

enum Coding : unsigned { kBaseline = 0, kProgressive = 1, kArithmetic = 2, kFullChroma = 4 };

std::vector<uint8_t> FlatJpeg(unsigned coding) {
  return CompressJpeg(std::vector<uint8_t>(16 * 16 * 3, 128), 16, 16, 3,
                      [coding](j_compress_ptr c) {
                        jpeg_set_quality(c, 75, TRUE);
                        c->arith_code = (coding & kArithmetic) != 0;
                        if (coding & kFullChroma)
                          c->comp_info[0].h_samp_factor = c->comp_info[0].v_samp_factor = 1;
                        if (coding & kProgressive) jpeg_simple_progression(c);
                      });
}

}  // namespace

std::vector<uint8_t> CompressJpeg(const std::vector<uint8_t>& pixels, int width, int height,
                                  int components,
                                  const std::function<void(jpeg_compress_struct*)>& setup) {
  static constexpr J_COLOR_SPACE kSpaces[] = {JCS_GRAYSCALE, JCS_UNKNOWN, JCS_RGB, JCS_CMYK};
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = kSpaces[components - 1];
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  if (setup) setup(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t{cinfo.next_scanline} * width * components]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes(out, out + size);
  std::free(out);
  return bytes;
}

// The frame header holds, after its marker, length and precision, the
// height and width, big-endian.
void ClaimSize(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height) {
  for (uint8_t sof : {0xC0, 0xC1, 0xC2, 0xC9, 0xCA}) {
    const size_t at = FindLastMarker(jpeg, sof);
    if (at == 0) continue;
    jpeg[at + 5] = static_cast<uint8_t>(height >> 8);
    jpeg[at + 6] = static_cast<uint8_t>(height);
    jpeg[at + 7] = static_cast<uint8_t>(width >> 8);
    jpeg[at + 8] = static_cast<uint8_t>(width);
    return;
  }
}

void PadTo(std::vector<uint8_t>& jpeg, size_t size) {
  while (jpeg.size() + 4 < size) {
    const size_t length = std::min<size_t>(size - jpeg.size() - 2, 65535);
    std::vector<uint8_t> comment = {0xFF, 0xFE, static_cast<uint8_t>(length >> 8),
                                    static_cast<uint8_t>(length)};
    comment.resize(length + 2, ' ');
    jpeg.insert(jpeg.begin() + 2, comment.begin(), comment.end());
  }
}

void RepeatLastScan(std::vector<uint8_t>& jpeg, int times) {
  const std::vector<uint8_t> scan(jpeg.begin() + FindLastMarker(jpeg, 0xDA), jpeg.end() - 2);
  for (int i = 0; i < times; ++i) jpeg.insert(jpeg.end() - 2, scan.begin(), scan.end());
}

std::vector<uint8_t> PaddedProgressiveJpeg(uint16_t claimed, size_t size) {
  std::vector<uint8_t> jpeg = FlatJpeg(kProgressive | kFullChroma);
  ClaimSize(jpeg, claimed, claimed);
  PadTo(jpeg, size);
  return jpeg;
}

std::vector<HostileJpeg> DecompressionBombs() {
  std::vector<HostileJpeg> bombs;
  bombs.push_back({"arithmetic progressive, 16384 x 16384 in a few hundred bytes",
                   FlatJpeg(kProgressive | kArithmetic), true});
  ClaimSize(bombs.back().bytes, 16384, 16384);
  // Up to 500 scans are let in; each of these is a pass over 16 Mpixels.
  bombs.push_back({"500 scans over 4096 x 4096", FlatJpeg(kProgressive), true});
  ClaimSize(bombs.back().bytes, 4096, 4096);
  RepeatLastScan(bombs.back().bytes, 500 - 10);
  bombs.push_back({"4:4:4 progressive, 16384 x 16384 padded to 66 KB",
                   PaddedProgressiveJpeg(16384, 66 * 1024), true});
  // Just inside the budget of a 100 KB file: decoded, gray, 49 Mpixels.
  bombs.push_back({"baseline, 7000 x 7000 padded to 100 KB", FlatJpeg(kBaseline), false});
  ClaimSize(bombs.back().bytes, 7000, 7000);
  PadTo(bombs.back().bytes, 100 * 1024);
  return bombs;
}

}  // namespace zavo::testing
