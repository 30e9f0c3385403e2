// Our own sample conversion, for what libtiff's RGBA interface refuses or
// misreads: 3- to 32-bit unsigned and signed integers, 16-, 32- and 64-bit IEEE
// floats, 2- and 4-bit RGB, 16-bit CMYK and palettes. libtiff still decodes the
// strips and tiles; we only read the samples out and scale them to 8 bits.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "imaging/tiff/tiff_decode.h"

namespace zavo {
namespace {

// The largest strip or tile buffer we allocate; a header asking for more is
// refused rather than trusted.
constexpr uint64_t kMaxBandBytes = uint64_t{1} << 30;

std::string SampleDescription(const TiffLayout& layout) {
  const std::string bits = std::to_string(layout.bits) + "-bit ";
  if (layout.sample_format == SAMPLEFORMAT_IEEEFP) return bits + "floating-point samples";
  if (layout.sample_format == SAMPLEFORMAT_INT) return bits + "signed samples";
  if (layout.sample_format == SAMPLEFORMAT_UINT || layout.sample_format == SAMPLEFORMAT_VOID) {
    return bits + "samples";
  }
  return bits + "samples of format " + std::to_string(layout.sample_format);
}

bool SampleFormatReadable(const TiffLayout& layout) {
  switch (layout.sample_format) {
    case SAMPLEFORMAT_UINT:
    case SAMPLEFORMAT_VOID:
      // A palette of 2^bits entries: libtiff holds at most 2^16.
      return layout.bits <= (layout.photometric == PHOTOMETRIC_PALETTE ? 16 : 32);
    case SAMPLEFORMAT_INT:
      return layout.bits >= 2 && layout.bits <= 32 && layout.photometric != PHOTOMETRIC_PALETTE;
    case SAMPLEFORMAT_IEEEFP:
      return (layout.bits == 16 || layout.bits == 24 || layout.bits == 32 || layout.bits == 64) &&
             layout.photometric != PHOTOMETRIC_PALETTE;
  }
  return false;
}

bool HasAlpha(const TiffLayout& layout) {
  return layout.extra_samples > 0 &&
         (layout.alpha == EXTRASAMPLE_ASSOCALPHA || layout.alpha == EXTRASAMPLE_UNASSALPHA);
}

uint16_t Planes(const TiffLayout& layout) {
  return layout.planar == PLANARCONFIG_SEPARATE ? layout.samples : 1;
}

uint64_t RowBytes(const TiffLayout& layout, uint32_t width) {
  const uint64_t samples = layout.planar == PLANARCONFIG_SEPARATE ? 1 : layout.samples;
  return (uint64_t{width} * samples * layout.bits + 7) / 8;
}

// One sample as it lies in a decoded row: 8-, 16-, 24-, 32- and 64-bit values
// whole bytes in host order (libtiff swaps them as it decodes), other depths
// packed bit fields, most significant bit first.
uint64_t RawSample(const uint8_t* row, uint64_t index, unsigned bits) {
  const uint8_t* at = row + index * bits / 8;
  switch (bits) {
    case 8:
      return *at;
    case 16: {
      uint16_t value;
      std::memcpy(&value, at, 2);
      return value;
    }
    case 24:
      if constexpr (std::endian::native == std::endian::little) {
        return uint64_t{at[2]} << 16 | uint64_t{at[1]} << 8 | at[0];
      } else {
        return uint64_t{at[0]} << 16 | uint64_t{at[1]} << 8 | at[2];
      }
    case 32: {
      uint32_t value;
      std::memcpy(&value, at, 4);
      return value;
    }
    case 64: {
      uint64_t value;
      std::memcpy(&value, at, 8);
      return value;
    }
  }
  const uint64_t first_bit = index * bits;
  const uint64_t last_bit = first_bit + bits - 1;
  uint64_t value = 0;
  for (uint64_t byte = first_bit / 8; byte <= last_bit / 8; ++byte) value = value << 8 | row[byte];
  return (value >> (7 - last_bit % 8)) & ((uint64_t{1} << bits) - 1);
}

// A float narrower than 32 bits, laid out as IEEE lays out its own: a sign,
// then `exponent_bits` of exponent (bias half their range), then the
// mantissa. Half floats have 5 and 10 bits; the 24-bit floats of DNG and
// Photoshop 7 and 16.
double SmallFloatToDouble(uint32_t bits, int exponent_bits, int mantissa_bits) {
  const int max_exponent = (1 << exponent_bits) - 1;
  const int bias = max_exponent / 2;
  const int exponent = static_cast<int>(bits >> mantissa_bits) & max_exponent;
  const uint32_t mantissa = bits & ((uint32_t{1} << mantissa_bits) - 1);
  double value =
      std::ldexp(mantissa | (uint32_t{1} << mantissa_bits), exponent - bias - mantissa_bits);
  if (exponent == 0) value = std::ldexp(mantissa, 1 - bias - mantissa_bits);
  if (exponent == max_exponent) value = mantissa != 0 ? NAN : INFINITY;
  return ((bits >> (exponent_bits + mantissa_bits)) & 1) != 0 ? -value : value;
}

uint8_t ToByte(double unit) {
  // Floating-point samples are nominally 0..1; NaN fails both tests and becomes 0.
  if (!(unit > 0)) return 0;
  if (!(unit < 1)) return 255;
  return static_cast<uint8_t>(std::lround(unit * 255));
}

// Turns one file's raw samples into values from 0 to 1 (floats may stray
// outside; they are clamped when they become bytes):
//   unsigned   0..2^b-1 onto 0..1; beyond 16 bits only the top 16 count, so
//              a 32-bit sample reads as the 16-bit one of its top half
//   signed     offset by half the range, -2^(b-1) becoming 0, then as unsigned
//   floating   as it is: 0.0 is black, 1.0 white
// A range the file gives (SMinSampleValue..SMaxSampleValue) maps onto 0..1
// instead, for signed and floating-point samples.
class SampleScale {
 public:
  explicit SampleScale(const TiffLayout& layout)
      : bits_(layout.bits),
        format_(layout.sample_format),
        kept_bits_(std::min(layout.bits, uint16_t{16})),
        max_(layout.bits >= 64 ? 0 : static_cast<double>((uint64_t{1} << kept_bits_) - 1)),
        range_(layout.range) {}

  double Unit(uint64_t raw) const {
    if (range_) return (Value(raw) - range_->first) / (range_->second - range_->first);
    if (format_ == SAMPLEFORMAT_IEEEFP) return Value(raw);
    // Flipping the sign bit maps -2^(b-1) .. 2^(b-1)-1 in order onto 0 .. 2^b-1.
    if (format_ == SAMPLEFORMAT_INT) raw ^= uint64_t{1} << (bits_ - 1);
    return static_cast<double>(raw >> (bits_ - kept_bits_)) / max_;
  }

 private:
  // The number a sample stands for.
  double Value(uint64_t raw) const {
    if (format_ == SAMPLEFORMAT_IEEEFP) {
      if (bits_ == 16) return SmallFloatToDouble(static_cast<uint32_t>(raw), 5, 10);
      if (bits_ == 24) return SmallFloatToDouble(static_cast<uint32_t>(raw), 7, 16);
      if (bits_ == 32) return std::bit_cast<float>(static_cast<uint32_t>(raw));
      return std::bit_cast<double>(raw);
    }
    if (format_ == SAMPLEFORMAT_INT && (raw >> (bits_ - 1)) != 0) {
      return -static_cast<double>((uint64_t{1} << bits_) - raw);
    }
    return static_cast<double>(raw);
  }

  unsigned bits_;
  uint16_t format_;
  unsigned kept_bits_;
  double max_;
  std::optional<std::pair<double, double>> range_;
};

// Hands out the decoded rows of every plane, one band of strips or tiles at a
// time, so nothing is decoded twice and the band is all that is held.
class BandReader {
 public:
  BandReader(const TiffSource& source, uint64_t row_bytes)
      : source_(source), planes_(Planes(source.layout)), row_bytes_(row_bytes) {}

  Result<void> Load(uint32_t y);
  const uint8_t* Row(uint32_t y, uint16_t plane) const {
    return band_.data() + (uint64_t{plane} * band_rows_ + (y - top_)) * row_bytes_;
  }

 private:
  Result<void> Allocate(std::vector<uint8_t>* buffer, uint64_t bytes) const;
  Result<void> LoadStrip(uint16_t plane, uint32_t rows);
  Result<void> LoadTiles(uint16_t plane, uint32_t rows);

  const TiffSource& source_;
  uint16_t planes_;
  uint64_t row_bytes_;
  uint32_t band_rows_ = 0;
  uint32_t top_ = 0;
  std::vector<uint8_t> band_;
  std::vector<uint8_t> tile_;
};

Result<void> BandReader::Allocate(std::vector<uint8_t>* buffer, uint64_t bytes) const {
  if (bytes <= kMaxBandBytes) {
    try {
      buffer->resize(static_cast<size_t>(bytes));
      return {};
    } catch (const std::bad_alloc&) {
    }
  }
  return source_.messages->Refusal(
      ErrorKind::TooLarge,
      "strips or tiles of " + std::to_string(bytes) + " bytes are beyond the limit");
}

Result<void> BandReader::Load(uint32_t y) {
  if (!band_.empty() && y >= top_ && y - top_ < band_rows_) return {};
  const TiffLayout& layout = source_.layout;
  if (band_.empty()) {
    band_rows_ = layout.rows_per_strip;
    ZAVO_TRY(Allocate(&band_, row_bytes_ * band_rows_ * planes_));
  }
  top_ = y / band_rows_ * band_rows_;
  const uint32_t rows = std::min(band_rows_, layout.height - top_);
  for (uint16_t plane = 0; plane < planes_; ++plane) {
    ZAVO_TRY(layout.tiled ? LoadTiles(plane, rows) : LoadStrip(plane, rows));
  }
  return {};
}

Result<void> BandReader::LoadStrip(uint16_t plane, uint32_t rows) {
  const uint32_t strip = TIFFComputeStrip(source_.tif, top_, plane);
  const tmsize_t wanted = static_cast<tmsize_t>(row_bytes_ * rows);
  uint8_t* out = band_.data() + uint64_t{plane} * band_rows_ * row_bytes_;
  // Asked for the whole strip (-1), libtiff reads it by its byte count and
  // fails a short one, as TIFFReadScanline does; given a size, it would read
  // that many stored bytes whatever the count says.
  const bool whole = TIFFVStripSize64(source_.tif, rows) == static_cast<uint64_t>(wanted);
  if (TIFFReadEncodedStrip(source_.tif, strip, out, whole ? tmsize_t{-1} : wanted) != wanted) {
    return source_.messages->Failure("cannot read strip " + std::to_string(strip));
  }
  return {};
}

// Tiles are copied into the band row by row; their width is a multiple of 16
// pixels, so each starts on a byte boundary even for packed samples.
Result<void> BandReader::LoadTiles(uint16_t plane, uint32_t rows) {
  TIFF* tif = source_.tif;
  uint32_t tile_width = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
  const uint64_t tile_row_bytes = RowBytes(source_.layout, tile_width);
  ZAVO_TRY(Allocate(&tile_, TIFFTileSize64(tif)));
  if (tile_width == 0 || tile_row_bytes * rows > tile_.size()) {
    return source_.messages->Failure("tiles are smaller than they claim");
  }
  uint8_t* band = band_.data() + uint64_t{plane} * band_rows_ * row_bytes_;
  for (uint32_t x = 0; x < source_.layout.width; x += tile_width) {
    if (TIFFReadTile(tif, tile_.data(), x, top_, 0, plane) < 0) {
      return source_.messages->Failure("cannot read the tile at " + std::to_string(x) + ", " +
                                       std::to_string(top_));
    }
    const uint64_t offset = RowBytes(source_.layout, x);
    const uint64_t bytes = std::min(tile_row_bytes, row_bytes_ - offset);
    for (uint32_t row = 0; row < rows; ++row) {
      std::memcpy(band + row * row_bytes_ + offset, tile_.data() + row * tile_row_bytes, bytes);
    }
  }
  return {};
}

// Turns the samples of one row into gray or BGR pixels over white.
class PixelConverter {
 public:
  PixelConverter(TIFF* tif, const TiffLayout& layout) : layout_(layout), scale_(layout) {
    colours_ = ColourChannels(tif, layout.photometric);
    if (layout.photometric == PHOTOMETRIC_PALETTE) {
      TIFFGetField(tif, TIFFTAG_COLORMAP, &palette_[0], &palette_[1], &palette_[2]);
    }
  }

  void Convert(const BandReader& reader, uint32_t y, uint8_t* out) const {
    for (uint32_t x = 0; x < layout_.width; ++x) {
      double rgb[3];
      Colour(reader, y, x, rgb);
      if (HasAlpha(layout_)) Composite(Unit(reader, y, x, colours_), rgb);
      if (layout_.gray()) {
        out[x] = ToByte(rgb[0]);
      } else {
        for (int c = 0; c < 3; ++c) out[3 * x + c] = ToByte(rgb[2 - c]);
      }
    }
  }

 private:
  uint64_t Raw(const BandReader& reader, uint32_t y, uint32_t x, uint16_t sample) const {
    if (layout_.planar == PLANARCONFIG_SEPARATE) {
      return RawSample(reader.Row(y, sample), x, layout_.bits);
    }
    return RawSample(reader.Row(y, 0), uint64_t{x} * layout_.samples + sample, layout_.bits);
  }
  double Unit(const BandReader& reader, uint32_t y, uint32_t x, uint16_t sample) const {
    return scale_.Unit(Raw(reader, y, x, sample));
  }

  void Colour(const BandReader& reader, uint32_t y, uint32_t x, double* rgb) const {
    switch (layout_.photometric) {
      case PHOTOMETRIC_MINISWHITE:
        rgb[0] = 1 - Unit(reader, y, x, 0);
        break;
      case PHOTOMETRIC_PALETTE: {
        const uint64_t index = Raw(reader, y, x, 0);
        for (int c = 0; c < 3; ++c) rgb[c] = palette_[c][index] / 65535.0;
        break;
      }
      case PHOTOMETRIC_SEPARATED: {
        const double black = Unit(reader, y, x, 3);
        for (uint16_t c = 0; c < 3; ++c) rgb[c] = (1 - Unit(reader, y, x, c)) * (1 - black);
        break;
      }
      case PHOTOMETRIC_RGB:
        for (uint16_t c = 0; c < 3; ++c) rgb[c] = Unit(reader, y, x, c);
        break;
      default:
        rgb[0] = Unit(reader, y, x, 0);
    }
  }

 public:
  // The colour as the profile sees it: gray, RGB, CMYK or Lab (as Lab16
  // encodes it), each 0..1, laid over white paper (no ink) where there is alpha.
  void Device(const BandReader& reader, uint32_t y, uint32_t x, double* values) const {
    unsigned channels = 1;
    double paper[4] = {1, 1, 1, 1};
    switch (layout_.photometric) {
      case PHOTOMETRIC_CIELAB:
      case PHOTOMETRIC_ICCLAB:
        channels = 3;
        Lab(reader, y, x, values);
        paper[1] = paper[2] = 128 / 255.0;  // a* = b* = 0
        break;
      case PHOTOMETRIC_SEPARATED:
        std::fill_n(paper, 4, 0.0);
        channels = 4;
        for (uint16_t c = 0; c < 4; ++c) values[c] = Unit(reader, y, x, c);
        break;
      case PHOTOMETRIC_MINISBLACK:
      case PHOTOMETRIC_MINISWHITE:
        Colour(reader, y, x, values);
        break;
      default:
        channels = 3;
        Colour(reader, y, x, values);
    }
    if (!HasAlpha(layout_)) return;
    double alpha = Unit(reader, y, x, colours_);
    alpha = std::clamp(std::isnan(alpha) ? 1.0 : alpha, 0.0, 1.0);
    const bool premultiplied = layout_.alpha == EXTRASAMPLE_ASSOCALPHA;
    for (unsigned c = 0; c < channels; ++c) {
      const double colour = premultiplied ? values[c] : values[c] * alpha;
      values[c] = colour + paper[c] * (1 - alpha);
    }
  }

 private:
  // L* from 0 to 100 as 0 to the largest sample; a* and b* signed in
  // CIELab, offset by half the range in ICCLab, a 16-bit one 256 times an
  // 8-bit one either way. Out as Lab16 encodes them, 0..1.
  void Lab(const BandReader& reader, uint32_t y, uint32_t x, double* values) const {
    const bool wide = layout_.bits == 16;
    const double half = wide ? 32768 : 128, step = wide ? 256 : 1;
    values[0] = static_cast<double>(Raw(reader, y, x, 0)) / (wide ? 65535 : 255);
    for (uint16_t c = 1; c < 3; ++c) {
      double value = static_cast<double>(Raw(reader, y, x, c));
      if (layout_.photometric == PHOTOMETRIC_ICCLAB || value < half) {
        value -= layout_.photometric == PHOTOMETRIC_ICCLAB ? half : 0;
      } else {
        value -= 2 * half;  // CIELab's negative a* and b*
      }
      values[c] = (value / step + 128) / 255;
    }
  }

  void Composite(double alpha, double* rgb) const {
    alpha = std::clamp(std::isnan(alpha) ? 1.0 : alpha, 0.0, 1.0);
    const bool premultiplied = layout_.alpha == EXTRASAMPLE_ASSOCALPHA;
    for (int c = 0; c < 3; ++c) rgb[c] = (premultiplied ? rgb[c] : rgb[c] * alpha) + 1 - alpha;
  }

  const TiffLayout& layout_;
  SampleScale scale_;
  unsigned colours_ = 0;
  uint16_t* palette_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace

unsigned ColourChannels(TIFF* tif, uint16_t photometric) {
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_PALETTE:
      return 1;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
      return 3;
    case PHOTOMETRIC_SEPARATED: {
      uint16_t inks = INKSET_CMYK;
      TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
      return inks == INKSET_CMYK ? 4 : 0;
    }
  }
  return 0;
}

std::optional<std::string> SamplesRouteRefuses(TIFF* tif, const TiffLayout& layout) {
  const std::string what = SampleDescription(layout);
  const unsigned colours = ColourChannels(tif, layout.photometric);
  if (colours == 0) {
    return "photometric interpretation " + std::to_string(layout.photometric) + " with " + what +
           " is not supported";
  }
  if (IsLab(layout.photometric)) {
    if (layout.bits != 8 && layout.bits != 16)
      return std::to_string(layout.bits) + "-bit Lab samples are not supported";
  } else if (!SampleFormatReadable(layout)) {
    return what + " are not supported";
  }
  if (layout.samples < colours + (HasAlpha(layout) ? 1 : 0)) {
    return std::to_string(layout.samples) + " samples are too few for the colour model";
  }
  uint16_t* palette[3] = {nullptr, nullptr, nullptr};
  if (layout.photometric == PHOTOMETRIC_PALETTE &&
      !TIFFGetField(tif, TIFFTAG_COLORMAP, &palette[0], &palette[1], &palette[2])) {
    return "the palette picture has no colour map";
  }
  uint32_t tile_width = 0;
  if (layout.tiled &&
      (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width) ||
       (uint64_t{tile_width} * layout.bits * layout.samples / Planes(layout)) % 8)) {
    return "tiles that do not start on a byte boundary are not supported";
  }
  return std::nullopt;
}

namespace {

uint16_t ToUint16(double unit) {
  if (!(unit > 0)) return 0;
  if (!(unit < 1)) return 65535;
  return static_cast<uint16_t>(std::lround(unit * 65535));
}

// Through a profile the samples go out at 16 bits, a band of rows at a time,
// and the band is converted on all cores: nothing is lost to 8 bits before
// the profile has done its work.
Result<Image> DecodeThroughProfile(const TiffSource& source, BandReader& reader,
                                   const PixelConverter& converter, Image image) {
  constexpr uint32_t kRowsPerBand = 64;
  const TiffLayout& layout = source.layout;
  const ColourModel model = ModelOf(source.colours->input());
  const unsigned channels = model == ColourModel::Gray ? 1 : model == ColourModel::Cmyk ? 4 : 3;
  const size_t row_values = size_t{layout.width} * channels;
  std::vector<uint16_t> band(row_values * std::min(kRowsPerBand, layout.height));
  std::vector<const uint8_t*> rows;
  for (uint32_t top = 0; top < layout.height; top += kRowsPerBand) {
    const uint32_t count = std::min(kRowsPerBand, layout.height - top);
    rows.clear();
    for (uint32_t i = 0; i < count; ++i) {
      ZAVO_TRY(reader.Load(top + i));
      uint16_t* out = band.data() + i * row_values;
      for (uint32_t x = 0; x < layout.width; ++x) {
        double values[4] = {0, 0, 0, 0};
        converter.Device(reader, top + i, x, values);
        for (unsigned c = 0; c < channels; ++c) out[size_t{x} * channels + c] = ToUint16(values[c]);
      }
      rows.push_back(reinterpret_cast<const uint8_t*>(out));
    }
    source.colours->ConvertRows(rows.data(), count, &image, top);
    ReportProgress(source.progress, top + count, layout.height);
  }
  return image;
}

}  // namespace

Result<Image> DecodeSamples(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  const uint64_t row_bytes = RowBytes(layout, layout.width);
  auto image = CreatePicture(source, row_bytes, !layout.tiled);
  if (!image) return image.error();
  BandReader reader(source, row_bytes);
  const PixelConverter converter(source.tif, layout);
  if (IsLab(layout.photometric) && source.colours == nullptr) {
    return source.messages->Refusal(ErrorKind::Unsupported, "Lab needs a colour transform");
  }
  if (source.colours != nullptr) {
    return DecodeThroughProfile(source, reader, converter, std::move(image).value());
  }
  for (uint32_t y = 0; y < layout.height; ++y) {
    ZAVO_TRY(reader.Load(y));
    converter.Convert(reader, y, image->row(y));
    ReportRows(source, y + 1, layout.height);
  }
  return image;
}

}  // namespace zavo
