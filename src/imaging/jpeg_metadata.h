// What a JPEG says about how to show its picture: the EXIF orientation (APP1)
// and the embedded ICC profile (APP2). Our own marker readers keep the first
// EXIF block and the ICC chunks and skip every other APP1 and APP2 marker:
// libjpeg's jpeg_save_markers would keep them all, in a list it walks from the
// start for each new one, which a file of many tiny markers turns into minutes.
#pragma once

#include <memory>

#include "imaging/colour_transform.h"
#include "imaging/jpeg_error_manager.h"

namespace zavo {

// Before jpeg_read_header: installs the marker readers. What they keep lives
// in libjpeg's pool (found through cinfo->client_data) and goes with the
// decompressor. They need a source that does not suspend.
void KeepMetadataMarkers(j_decompress_ptr cinfo);

// After jpeg_read_header and the choice of out_color_space. Problems with the
// EXIF data or the profile go to `warnings` as texts, and the picture is then
// read as if they were absent.
struct JpegMetadata {
  uint16_t orientation = 1;
  std::unique_ptr<const ColourTransform> colours;  // null: no colour conversion
};
JpegMetadata ReadJpegMetadata(const jpeg_decompress_struct& cinfo, Warnings* warnings);

}  // namespace zavo
