// JPEG through libjpeg-turbo.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/image.h"
#include "imaging/progress.h"
#include "platform/error.h"

namespace zavo {

// Gray JPEGs come back as Gray8, all others (YCbCr, RGB, CMYK, YCCK) as Bgr24.
// A damaged file that libjpeg can still decode yields the picture and a warning.
Result<Image> DecodeJpeg(std::span<const uint8_t> data, const std::string& name, Warnings* warnings,
                         Progress* progress);
Result<Image> LoadJpegFile(const std::string& path, Warnings* warnings, Progress* progress);

// LoadJpegFile with the number of threads given: 0 lets the picture and the
// cores choose (as LoadJpegFile does), 1 decodes in one piece, more splits the
// rows that many ways where the file allows, whatever the cores. The picture
// is the same in every case. `bands_used`, when not null, receives the number
// of bands the rows were decoded in.
Result<Image> LoadJpegFileInBands(const std::string& path, unsigned threads, Warnings* warnings,
                                  Progress* progress, unsigned* bands_used);

// quality is libjpeg's 1..100 (0 behaves as 1, above 100 as 100); grayscale
// writes a one-channel JPEG. The resolution goes into the JFIF density.
Result<void> SaveJpegFile(const std::string& path, const Image& image, int quality, bool grayscale,
                          Progress* progress);

}  // namespace zavo
