#include "imaging/colour_transform.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/colour_lookup.h"
#include "imaging/parallel_rows.h"

namespace zavo {
namespace {

// LittleCMS reports its errors through a handler per context; the first one
// names what was wrong with the profile.
struct LcmsLog {
  std::string first_error;
};

// Called from inside LittleCMS (C): no exception may leave it. A text that
// cannot be kept leaves the caller's own description of the problem.
void OnLcmsError(cmsContext context, cmsUInt32Number /*code*/, const char* text) noexcept {
  auto* log = static_cast<LcmsLog*>(cmsGetContextUserData(context));
  if (log == nullptr || !log->first_error.empty() || text == nullptr) return;
  try {
    log->first_error = text;
  } catch (...) {
  }
}

struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
  void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TransformPtr = std::unique_ptr<void, TransformDeleter>;

struct ContextDeleter {
  void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
using ContextPtr = std::unique_ptr<_cmsContext_struct, ContextDeleter>;

cmsUInt32Number LcmsFormat(DevicePixels pixels) {
  switch (pixels) {
    case DevicePixels::Gray8:
      return TYPE_GRAY_8;
    case DevicePixels::Bgr8:
      return TYPE_BGR_8;
    case DevicePixels::Cmyk8:
      return TYPE_CMYK_8;
    case DevicePixels::InvertedCmyk8:
      return TYPE_CMYK_8_REV;
    case DevicePixels::Gray16:
      return TYPE_GRAY_16;
    case DevicePixels::Rgb16:
      return TYPE_RGB_16;
    case DevicePixels::Cmyk16:
      return TYPE_CMYK_16;
    case DevicePixels::Lab16:
      return TYPE_Lab_16;
  }
  return TYPE_GRAY_8;
}

unsigned InputBytes(DevicePixels pixels) {
  switch (pixels) {
    case DevicePixels::Gray8:
      return 1;
    case DevicePixels::Bgr8:
      return 3;
    case DevicePixels::Cmyk8:
    case DevicePixels::InvertedCmyk8:
      return 4;
    case DevicePixels::Gray16:
      return 2;
    case DevicePixels::Rgb16:
      return 6;
    case DevicePixels::Cmyk16:
      return 8;
    case DevicePixels::Lab16:
      return 6;
  }
  return 1;
}

bool IsGray(DevicePixels pixels) {
  return pixels == DevicePixels::Gray8 || pixels == DevicePixels::Gray16;
}

const char* ModelName(cmsColorSpaceSignature space) {
  switch (space) {
    case cmsSigGrayData:
      return "gray";
    case cmsSigRgbData:
      return "RGB";
    case cmsSigCmykData:
      return "CMYK";
    case cmsSigLabData:
      return "Lab";
    default:
      return "another colour model";
  }
}

cmsColorSpaceSignature SignatureOf(ColourModel model) {
  switch (model) {
    case ColourModel::Gray:
      return cmsSigGrayData;
    case ColourModel::Rgb:
      return cmsSigRgbData;
    case ColourModel::Cmyk:
      return cmsSigCmykData;
    case ColourModel::Lab:
      return cmsSigLabData;
  }
  return cmsSigRgbData;
}

// Everything one transform needs, in the order it must be torn down.
struct Lcms {
  LcmsLog log;
  ContextPtr context{cmsCreateContext(nullptr, &log)};
  ProfilePtr source;
  ProfilePtr srgb;

  Lcms() {
    if (context) cmsSetLogErrorHandlerTHR(context.get(), OnLcmsError);
  }
  std::string Problem(const std::string& fallback) const {
    return log.first_error.empty() ? fallback : fallback + " (" + log.first_error + ")";
  }
  TransformPtr Build(cmsUInt32Number in, cmsUInt32Number out, cmsUInt32Number flags = 0) {
    return TransformPtr(cmsCreateTransformTHR(context.get(), source.get(), in, srgb.get(), out,
                                              INTENT_PERCEPTUAL, flags));
  }
};

// A profile is taken as sRGB when it maps every point of a coarse grid onto
// itself within one level: the sRGB profiles of every vendor, and the few
// that differ from them only in their tags.
bool ActsAsSrgb(Lcms& lcms, ColourModel model) {
  if (model == ColourModel::Cmyk || model == ColourModel::Lab) return false;
  const bool gray = model == ColourModel::Gray;
  TransformPtr check = lcms.Build(gray ? TYPE_GRAY_8 : TYPE_RGB_8, TYPE_RGB_8);
  if (!check) return false;
  std::vector<uint8_t> in;
  if (gray) {
    for (int level = 0; level < 256; ++level) in.push_back(static_cast<uint8_t>(level));
  } else {
    constexpr int kLevels[] = {0, 32, 64, 96, 128, 160, 192, 224, 255};
    for (int r : kLevels) {
      for (int g : kLevels) {
        for (int b : kLevels) in.insert(in.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
      }
    }
  }
  const size_t count = gray ? in.size() : in.size() / 3;
  std::vector<uint8_t> out(count * 3);
  cmsDoTransform(check.get(), in.data(), out.data(), static_cast<cmsUInt32Number>(count));
  for (size_t i = 0; i < out.size(); ++i) {
    const int expected = gray ? in[i / 3] : in[i];
    if (std::abs(int{out[i]} - expected) > 1) return false;
  }
  return true;
}

using Sampler = ColourLookup::Sampler;

// For matrix-shaper RGB profiles (the usual Adobe RGB, ProPhoto, Display P3):
// their curves and the matrix into sRGB's linear light, read from the tags of
// both profiles as LittleCMS reads them; nullopt for any other profile.
std::optional<ColourLookup> MatrixRoute(Lcms& lcms) {
  void* profiles[2] = {lcms.source.get(), lcms.srgb.get()};
  if (!cmsIsMatrixShaper(profiles[0]) || !cmsIsMatrixShaper(profiles[1])) return std::nullopt;
  const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                        cmsSigBlueColorantTag};
  const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  cmsMAT3 primaries[2];
  for (int p = 0; p < 2; ++p) {
    for (int c = 0; c < 3; ++c) {
      const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profiles[p], colorants[c]));
      if (xyz == nullptr) return std::nullopt;
      primaries[p].v[0].n[c] = xyz->X;
      primaries[p].v[1].n[c] = xyz->Y;
      primaries[p].v[2].n[c] = xyz->Z;
    }
  }
  double linear[3][256];
  for (int c = 0; c < 3; ++c) {
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profiles[0], curves[c]));
    if (curve == nullptr) return std::nullopt;
    for (int level = 0; level < 256; ++level) {
      linear[c][level] = cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(level / 255.0));
    }
  }
  const auto* srgb_curve = static_cast<const cmsToneCurve*>(cmsReadTag(profiles[1], curves[0]));
  cmsMAT3 to_srgb, matrix;
  if (srgb_curve == nullptr || !_cmsMAT3inverse(&primaries[1], &to_srgb)) return std::nullopt;
  _cmsMAT3per(&matrix, &to_srgb, &primaries[0]);
  std::unique_ptr<cmsToneCurve, void (*)(cmsToneCurve*)> encode(cmsReverseToneCurve(srgb_curve),
                                                                cmsFreeToneCurve);
  if (!encode) return std::nullopt;
  double rows[3][3];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      rows[r][c] = matrix.v[r].n[c];
      // Real profiles stay far inside this; a broken one goes through the grid.
      if (!(std::abs(rows[r][c]) <= ColourLookup::kMaxMatrixEntry)) return std::nullopt;
    }
  }
  return ColourLookup::ForMatrix(linear, rows, [&](double x) {
    return cmsEvalToneCurveFloat(encode.get(), static_cast<cmsFloat32Number>(x));
  });
}

// The matrix route is taken only where it agrees with LittleCMS within a level
// on a grid of colours; anything it reads differently goes through the grid.
bool AgreesWithLcms(const ColourLookup& lookup, const Sampler& sample) {
  constexpr int kLevels[] = {0, 1, 8, 32, 64, 96, 128, 160, 192, 224, 254, 255};
  std::vector<uint8_t> bgr;
  std::vector<uint16_t> rgb16;
  for (int r : kLevels) {
    for (int g : kLevels) {
      for (int b : kLevels) {
        bgr.insert(bgr.end(), {uint8_t(b), uint8_t(g), uint8_t(r)});
        rgb16.insert(rgb16.end(), {uint16_t(r * 257), uint16_t(g * 257), uint16_t(b * 257)});
      }
    }
  }
  const size_t count = bgr.size() / 3;
  std::vector<uint8_t> ours(bgr.size());
  std::vector<uint16_t> theirs(rgb16.size());
  lookup.Convert(bgr.data(), ours.data(), count);
  sample(rgb16.data(), theirs.data(), count);
  for (size_t i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) {
      const int expected = (theirs[3 * i + c] + 128) / 257;
      if (std::abs(int{ours[3 * i + 2 - c]} - expected) > 1) return false;
    }
  }
  return true;
}

}  // namespace

struct ColourTransform::State {
  DevicePixels input;
  Lcms lcms;
  TransformPtr transform;
  // Gray needs no 3-D lookup: one table for every input level, the gray of
  // the sRGB colour each one becomes.
  std::vector<uint8_t> gray_table;
  // 8-bit colour goes through a sampled grid (see colour_lookup.h).
  std::optional<ColourLookup> lookup;
};

ColourModel ModelOf(DevicePixels pixels) {
  if (IsGray(pixels)) return ColourModel::Gray;
  if (pixels == DevicePixels::Bgr8 || pixels == DevicePixels::Rgb16) return ColourModel::Rgb;
  if (pixels == DevicePixels::Lab16) return ColourModel::Lab;
  return ColourModel::Cmyk;
}

PreparedTransform PrepareToSrgb(std::span<const uint8_t> profile, DevicePixels pixels) {
  auto state = std::make_unique<ColourTransform::State>();
  state->input = pixels;
  Lcms& lcms = state->lcms;
  if (!lcms.context) return {nullptr, "LittleCMS could not start"};
  if (profile.empty() && pixels == DevicePixels::Lab16) {
    lcms.source.reset(cmsCreateLab4ProfileTHR(lcms.context.get(), cmsD50_xyY()));
  } else {
    lcms.source.reset(cmsOpenProfileFromMemTHR(lcms.context.get(), profile.data(),
                                               static_cast<cmsUInt32Number>(profile.size())));
  }
  if (!lcms.source) return {nullptr, lcms.Problem("the ICC profile cannot be read")};
  const ColourModel model = ModelOf(pixels);
  const cmsColorSpaceSignature space = cmsGetColorSpace(lcms.source.get());
  if (space != SignatureOf(model)) {
    return {nullptr, std::string("the ICC profile is for ") + ModelName(space) +
                         " but the picture is " + ModelName(SignatureOf(model))};
  }
  lcms.srgb.reset(cmsCreate_sRGBProfileTHR(lcms.context.get()));
  if (!lcms.srgb) return {nullptr, lcms.Problem("LittleCMS could not make its sRGB profile")};
  if (ActsAsSrgb(lcms, model)) return {};
  const bool gray = model == ColourModel::Gray;
  const bool sampled = pixels == DevicePixels::Bgr8 || pixels == DevicePixels::Cmyk8 ||
                       pixels == DevicePixels::InvertedCmyk8;
  if (sampled) {
    // The grid is sampled at 16 bits, CMYK as plain ink, by the whole
    // pipeline: LittleCMS would otherwise resample it on a grid of its own.
    const cmsUInt32Number in = model == ColourModel::Rgb ? TYPE_RGB_16 : TYPE_CMYK_16;
    state->transform = lcms.Build(in, TYPE_RGB_16, cmsFLAGS_NOOPTIMIZE);
  } else {
    state->transform = lcms.Build(LcmsFormat(pixels), gray ? TYPE_RGB_8 : TYPE_BGR_8);
  }
  if (!state->transform) return {nullptr, lcms.Problem("the ICC profile cannot be applied")};
  if (sampled) {
    void* transform = state->transform.get();
    const auto sample = [transform](const uint16_t* in, uint16_t* rgb, size_t count) {
      cmsDoTransform(transform, in, rgb, static_cast<cmsUInt32Number>(count));
    };
    if (model == ColourModel::Cmyk) {
      state->lookup = ColourLookup::ForCmyk(sample, pixels == DevicePixels::InvertedCmyk8);
    } else {
      state->lookup = MatrixRoute(lcms);
      if (state->lookup && !AgreesWithLcms(*state->lookup, sample)) state->lookup.reset();
      if (!state->lookup) state->lookup = ColourLookup::ForBgr(sample);
    }
  }
  if (gray) {
    const size_t levels = pixels == DevicePixels::Gray8 ? 256 : 65536;
    std::vector<uint8_t> in8(levels);
    std::vector<uint16_t> in16(levels);
    for (size_t i = 0; i < levels; ++i) {
      in8[i] = static_cast<uint8_t>(i);
      in16[i] = static_cast<uint16_t>(i);
    }
    std::vector<uint8_t> rgb(levels * 3);
    const void* in = levels == 256 ? static_cast<const void*>(in8.data()) : in16.data();
    cmsDoTransform(state->transform.get(), in, rgb.data(), static_cast<cmsUInt32Number>(levels));
    state->gray_table.resize(levels);
    for (size_t i = 0; i < levels; ++i) state->gray_table[i] = rgb[3 * i + 1];
  }
  return {std::make_unique<const ColourTransform>(std::move(state)), {}};
}

ColourTransform::ColourTransform(std::unique_ptr<State> state) : state_(std::move(state)) {}
ColourTransform::~ColourTransform() = default;

DevicePixels ColourTransform::input() const { return state_->input; }

PixelFormat ColourTransform::output() const {
  return IsGray(state_->input) ? PixelFormat::Gray8 : PixelFormat::Bgr24;
}

void ColourTransform::Convert(const void* in, uint8_t* out, size_t count) const {
  if (!state_->gray_table.empty()) {
    const uint8_t* table = state_->gray_table.data();
    if (state_->input == DevicePixels::Gray8) {
      const auto* levels = static_cast<const uint8_t*>(in);
      for (size_t i = 0; i < count; ++i) out[i] = table[levels[i]];
    } else {
      const auto* levels = static_cast<const uint16_t*>(in);
      for (size_t i = 0; i < count; ++i) out[i] = table[levels[i]];
    }
    return;
  }
  if (state_->lookup) {
    state_->lookup->Convert(static_cast<const uint8_t*>(in), out, count);
    return;
  }
  cmsDoTransform(state_->transform.get(), in, out, static_cast<cmsUInt32Number>(count));
}

void ColourTransform::ConvertPicture(Image* image) const {
  const uint32_t width = image->width();
  const size_t row_bytes = size_t{width} * BytesPerPixel(image->format());
  ForEachRowBand(image->height(), row_bytes * 4, [&](uint32_t first, uint32_t count) {
    std::vector<uint8_t> device(row_bytes);
    for (uint32_t y = first; y < first + count; ++y) {
      uint8_t* row = image->row(y);
      std::memcpy(device.data(), row, row_bytes);
      Convert(device.data(), row, width);
    }
  });
}

void ColourTransform::ConvertRows(const uint8_t* const* rows, uint32_t count, Image* image,
                                  uint32_t first_row) const {
  const uint32_t width = image->width();
  ForEachRowBand(count, uint64_t{width} * InputBytes(state_->input) * 4,
                 [&](uint32_t first, uint32_t band) {
                   for (uint32_t i = first; i < first + band; ++i) {
                     Convert(rows[i], image->row(first_row + i), width);
                   }
                 });
}

}  // namespace zavo
