#include "imaging/tiff/tiff_colour.h"

#include <optional>
#include <span>
#include <string>

namespace zavo {
namespace {

std::optional<ColourModel> ModelOfPicture(TIFF* tif, const TiffLayout& layout) {
  switch (layout.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      return ColourModel::Gray;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_PALETTE:
      return ColourModel::Rgb;
    case PHOTOMETRIC_SEPARATED: {
      uint16_t inks = INKSET_CMYK;
      TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
      if (inks == INKSET_CMYK && layout.samples - layout.extra_samples == 4) {
        return ColourModel::Cmyk;
      }
      break;
    }
  }
  return std::nullopt;
}

DevicePixels SixteenBit(ColourModel model) {
  if (model == ColourModel::Gray) return DevicePixels::Gray16;
  return model == ColourModel::Rgb ? DevicePixels::Rgb16 : DevicePixels::Cmyk16;
}

// Lab always goes through LittleCMS: with its own profile when that is one
// for Lab, else as Lab under D50. Nothing when the Samples route cannot read
// the samples, which the decoding then says.
TiffColours LabColours(TIFF* tif, const TiffLayout& layout, std::span<const uint8_t> profile,
                       TiffMessages* messages) {
  TiffColours colours;
  if (SamplesRouteRefuses(tif, layout)) return colours;
  if (!profile.empty()) {
    PreparedTransform prepared = PrepareToSrgb(profile, DevicePixels::Lab16);
    colours.samples = std::move(prepared.transform);
    if (colours.samples) return colours;
    messages->Warn(prepared.problem + "; the picture is taken as Lab under D50");
  }
  colours.samples = PrepareToSrgb({}, DevicePixels::Lab16).transform;
  return colours;
}

}  // namespace

TiffColours ReadTiffColours(TIFF* tif, const TiffLayout& layout, TiffMessages* messages) {
  uint32_t size = 0;
  const void* data = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_ICCPROFILE, &size, &data) || data == nullptr) size = 0;
  const std::span<const uint8_t> profile(static_cast<const uint8_t*>(data), size);
  if (IsLab(layout.photometric)) return LabColours(tif, layout, profile, messages);
  if (profile.empty()) return {};
  const std::optional<ColourModel> model = ModelOfPicture(tif, layout);
  std::string problem;
  TiffColours colours;
  if (!model) {
    problem = "the ICC profile cannot be applied to pictures of photometric interpretation " +
              std::to_string(layout.photometric);
  } else if (*model == ColourModel::Cmyk ||
             (layout.bits > 8 && layout.photometric != PHOTOMETRIC_PALETTE)) {
    if (auto refusal = SamplesRouteRefuses(tif, layout)) {
      problem = "the ICC profile cannot be applied to " + *refusal;
    } else {
      PreparedTransform prepared = PrepareToSrgb(profile, SixteenBit(*model));
      colours.samples = std::move(prepared.transform);
      problem = prepared.problem;
    }
  } else {
    PreparedTransform prepared =
        PrepareToSrgb(profile, layout.gray() ? DevicePixels::Gray8 : DevicePixels::Bgr8);
    colours.picture = std::move(prepared.transform);
    problem = prepared.problem;
  }
  if (!problem.empty()) messages->Warn(problem + "; colours are left as they are");
  return colours;
}

}  // namespace zavo
