// Inside the TIFF reader: the three ways a first page becomes an Image.
//   Fast    8-bit gray or RGB(A) in strips: rows decoded straight into the picture;
//           large ones, and large tiled ones, on all cores.
//   Rgba    libtiff's RGBA interface: palette, YCbCr, CMYK, LogLuv, tiles...
//   Samples our own sample conversion for what that interface misreads or
//           refuses: signed and floating-point samples, 3..32-bit depths,
//           Lab (through LittleCMS), and any picture with a profile to apply
//           to samples of more than 8 bits.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "imaging/colour_transform.h"
#include "imaging/image.h"
#include "imaging/progress.h"
#include "imaging/tiff/tiff_handle.h"
#include "platform/error.h"

namespace zavo {

// Pieces: the strips or tiles on all cores, as Best takes them where it can.
enum class TiffRoute { Best, Fast, Rgba, Samples, Pieces };

// DecodeTiff through a chosen route; a route that cannot take the file
// refuses it as Unsupported. Tests use it to compare the routes.
Result<Image> DecodeTiffVia(TiffRoute route, std::span<const uint8_t> data, const std::string& name,
                            Warnings* warnings, Progress* progress);
// The same for a file, read as LoadTiffFile reads it, with `read_at` in
// place of pread (tests make reads fail with it).
Result<Image> LoadTiffFileVia(TiffRoute route, const std::string& path, Warnings* warnings,
                              Progress* progress, TiffInput::ReadAt read_at = ::pread);

// The fields of the first directory that decide how to read it.
struct TiffLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t samples = 1;                      // per pixel, extra samples included
  uint16_t extra_samples = 0;                // beyond the colour channels
  uint16_t alpha = EXTRASAMPLE_UNSPECIFIED;  // kind of the first extra sample
  // The one sample beyond the colour channels that ExtraSamples leaves
  // unnamed (missing, or 0): taken as straight alpha, as ImageMagick and
  // Pillow take it; libtiff's RGBA reader sees it but not what it is.
  bool alpha_guessed = false;
  uint16_t bits = 1;
  uint16_t sample_format = SAMPLEFORMAT_UINT;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t compression = COMPRESSION_NONE;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  uint32_t rows_per_strip = 1;  // tile height for tiled files; never above height
  bool tiled = false;
  PixelFormat format = PixelFormat::Bgr24;  // what the picture becomes
  // SMinSampleValue and SMaxSampleValue of signed and floating-point
  // samples, when the file gives a usable range; they then map to 0 and 255.
  std::optional<std::pair<double, double>> range;

  bool gray() const { return format == PixelFormat::Gray8; }
};

// What each route needs from the open file. Every route decodes the rows in
// the order the file stores them; the picture's orientation turns them later.
struct TiffSource {
  TIFF* tif;
  TiffMessages* messages;
  const TiffLayout& layout;
  Progress* progress;
  // When set, the Samples route hands its 16-bit samples through this
  // profile's transform instead of scaling them to 8 bits itself.
  const ColourTransform* colours = nullptr;
};

inline bool IsLab(uint16_t photometric) {
  return photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB;
}

// The colour channels of a photometric interpretation the Samples route
// reads (1 gray or palette, 3 RGB or Lab, 4 CMYK), else 0.
unsigned ColourChannels(TIFF* tif, uint16_t photometric);

bool FastRouteTakes(const TiffLayout& layout);
Result<Image> DecodeFast(const TiffSource& source);

// 8-bit gray or RGB strips or tiles in the common compressions, on all cores.
// Nullopt, with nothing said, when the picture is small, there is one core or
// libtiff objects to anything: another route then reads the file as ever.
std::optional<Image> DecodePiecesOnAllCores(const TiffSource& source);

// Whether a read of the file behind `tif` failed: the picture cannot be had.
bool TiffInputFailed(TIFF* tif);

Result<Image> DecodeRgba(const TiffSource& source);

// Why the Samples route cannot take the file, or nullopt when it can.
std::optional<std::string> SamplesRouteRefuses(TIFF* tif, const TiffLayout& layout);
Result<Image> DecodeSamples(const TiffSource& source);

// The picture a route decodes into, once libtiff's rows are known to hold
// `row_bytes` (checked only when `check_rows`: tiled files have no rows).
Result<Image> CreatePicture(const TiffSource& source, uint64_t row_bytes, bool check_rows);

// Reports progress every so many rows (at most a strip's), and at the end.
void ReportRows(const TiffSource& source, uint64_t rows_done, uint64_t total_rows);

// Compositing onto white. libtiff hands colour premultiplied by alpha ("associated")
// or not ("unassociated", straight); both end as the colour seen over white paper.
inline uint8_t OverWhitePremultiplied(unsigned colour, unsigned alpha) {
  const unsigned value = colour + 255 - alpha;
  return static_cast<uint8_t>(value > 255 ? 255 : value);
}
// Premultiplies with libtiff's own rounding, so every route gives the same pixels.
inline uint8_t OverWhiteStraight(unsigned colour, unsigned alpha) {
  return static_cast<uint8_t>((colour * alpha + 127) / 255 + 255 - alpha);
}

}  // namespace zavo
