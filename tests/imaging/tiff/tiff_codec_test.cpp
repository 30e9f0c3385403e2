#include "imaging/tiff/tiff_codec.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>

#include "imaging/orientation.h"
#include "imaging/parallel_rows.h"
#include "imaging/tiff/tiff_decode.h"
#include "support/image_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;
using testing::MaxChannelDifference;
using testing::RgbPicture;
using testing::ToRgb;
using Damage = std::function<void(std::vector<uint8_t>&)>;
constexpr uint16_t kOffsets = TIFFTAG_STRIPOFFSETS, kCounts = TIFFTAG_STRIPBYTECOUNTS;

// A small TIFF through libtiff: `rows` of packed samples; `tags` sets any other fields.
void WriteTiff(
    const std::string& path, std::vector<std::vector<uint8_t>> rows, uint32_t width, uint16_t bits,
    uint16_t samples, uint16_t photometric, const std::function<void(TIFF*)>& tags = [](TIFF*) {},
    const char* mode = "w") {
  TIFF* tif = TIFFOpen(path.c_str(), mode);
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  tags(tif);
  for (uint32_t y = 0; y < rows.size(); ++y) TIFFWriteScanline(tif, rows[y].data(), y, 0);
  TIFFClose(tif);
}

uint32_t LittleEndian(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
  uint32_t got = 0;
  for (size_t i = 0; i < width; ++i) got |= uint32_t{bytes.at(at + i)} << (8 * i);
  return got;
}

// Where the entry of `tag` starts in the first directory of a little-endian classic TIFF.
size_t EntryOf(const std::vector<uint8_t>& bytes, uint16_t tag) {
  const size_t ifd = LittleEndian(bytes, 4, 4), end = ifd + 2 + 12 * LittleEndian(bytes, ifd, 2);
  size_t entry = ifd + 2;
  while (entry < end && LittleEndian(bytes, entry, 2) != tag) entry += 12;
  return entry;
}

// Value `index` of `tag` (of a RATIONAL, its offset), first set to `value` when one is given.
uint32_t TagValue(std::vector<uint8_t>& bytes, uint16_t tag, size_t index,
                  std::optional<uint32_t> value = std::nullopt) {
  const size_t entry = EntryOf(bytes, tag), width = bytes.at(entry + 2) == TIFF_SHORT ? 2 : 4;
  const bool inside = LittleEndian(bytes, entry + 4, 4) * width <= 4;  // the values fit the entry
  const size_t at = (inside ? entry + 8 : LittleEndian(bytes, entry + 8, 4)) + index * width;
  for (size_t i = 0; value && i < width; ++i) bytes.at(at + i) = uint8_t(*value >> (8 * i));
  return LittleEndian(bytes, at, width);
}

// Sets value `index` of `tag` to `value`, plus value `like` of the tag when one is given.
Damage SetTag(uint16_t tag, size_t index, int64_t value, std::optional<size_t> like = {}) {
  return [=](std::vector<uint8_t>& b) {
    TagValue(b, tag, index, uint32_t(value + (like ? TagValue(b, tag, *like) : 0)));
  };
}

// Holds the picture to the judge tiff_judges.tsv names (its comments say why).
void DecodesLikeItsJudge(const fs::path& path, const Image& image) {
  static const auto judges = testing::Table("imaging/tiff/tiff_judges.tsv");
  const auto row = judges.find(path.filename().string());
  ASSERT_NE(row, judges.end()) << "no row in tiff_judges.tsv";
  const std::vector<std::string>& judge = row->second;  // format, judge, difference, twin
  EXPECT_EQ(image.format(), judge[0] == "gray" ? PixelFormat::Gray8 : PixelFormat::Bgr24);
  if (judge[1] == "skip") return;
  std::optional<RgbPicture> reference;
  testing::TempDir dir;
  const bool rgba = judge[1] == "tiff2rgba", converted = rgba || judge[1] == "magick-srgb";
  const std::string in = "'" + path.string(), out = dir.File(rgba ? "r.tif" : "r.miff");
  if (judge[1] == "twin") {
    auto twin = LoadTiffFile((path.parent_path() / judge.back()).string(), nullptr, nullptr);
    if (twin) reference = ToRgb(*twin);
  } else if (!converted ||
             testing::RunCommand((rgba ? "tiff2rgba -c none " + in + "' '"
                                       : "convert " + in + "[0]' -colorspace sRGB '") +
                                 out + "' 2>/dev/null") == 0) {
    reference = testing::DecodeWithImageMagick(converted ? out : path.string());
  }
  ASSERT_TRUE(reference.has_value()) << "no reference picture";
  for (auto& value : reference->rgb) {
    if (judge[1] == "magick-negated") value = static_cast<uint8_t>(255 - value);
    if (judge[1] == "magick-sign-flipped") value ^= 0x80;
  }
  EXPECT_LE(MaxChannelDifference(ToRgb(image), *reference), std::stoi(judge[2]));
}

// The import's pixels or message, and its warnings: the same on one, two and seven threads.
std::pair<std::string, Warnings> SameOutcomeOnAnyThreads(const fs::path& path,
                                                         TiffInput::ReadAt read_at = ::pread) {
  std::pair<std::string, Warnings> one;
  for (unsigned threads : {1u, 2u, 7u}) {
    ScopedThreadCount count(threads);
    Warnings warnings;
    auto image = LoadTiffFileVia(TiffRoute::Best, path.string(), &warnings, nullptr, read_at);
    const auto bytes = image ? testing::Bytes(*image) : std::vector<uint8_t>();
    const std::pair outcome(
        image ? std::string(bytes.begin(), bytes.end()) : image.error().message(), warnings);
    if (threads == 1) one = outcome;
    EXPECT_TRUE(outcome == one) << threads;
  }
  return one;
}

// The fast route and the threads take every file of theirs, the threads giving the same
// pixels; libtiff's warnings are passed on, at most five, naming the file.
TEST(TiffCorpus, DecodesEveryValidFileLikeItsJudge) {
  ZAVO_REQUIRE_TESTDATA(dir);
  int fast = 0, pieces = 0;
  for (const auto& file : testing::Corpus(dir, "tiff/good/")) {
    SCOPED_TRACE(file.path.string());
    auto image = LoadTiffFile(file.path.string(), nullptr, nullptr);
    ASSERT_TRUE(image) << image.error().message();
    DecodesLikeItsJudge(file.path, *image);
    const Warnings warnings = SameOutcomeOnAnyThreads(file.path).second;
    EXPECT_LE(warnings.size(), 5u);
    for (const std::string& warning : warnings)
      EXPECT_TRUE(warning.starts_with("TIFF: ") && warning.ends_with(": " + file.path.string()));
    fast += LoadTiffFileVia(TiffRoute::Fast, file.path, nullptr, nullptr).ok();
    ScopedThreadCount threads(3);
    if (auto parallel = LoadTiffFileVia(TiffRoute::Pieces, file.path, nullptr, nullptr)) {
      EXPECT_EQ(testing::Bytes(*parallel), testing::Bytes(*image));
      ++pieces;
    }
  }
  EXPECT_EQ(std::pair(fast, pieces), std::pair(39, 22));
}

// Every route, not only the one the file would take, meets the hostile input; warnings once.
TEST(TiffCorpus, RefusesOrDecodesDamagedFilesWithoutHarm) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const auto& file : testing::Corpus(dir, "tiff/bad/")) {
    SCOPED_TRACE(file.path.string());
    const auto bytes = testing::ReadBytes(file.path);  // in memory: the fuzzer's way in
    for (TiffRoute route :
         {TiffRoute::Best, TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
      auto image = DecodeTiffVia(route, bytes, file.path, nullptr, nullptr);
      if (!image) testing::ExpectFailure(image, image.error().kind(), "TIFF: ", file.path.string());
    }
    const auto one = SameOutcomeOnAnyThreads(file.path);
    for (const auto& warning : one.second) EXPECT_EQ(std::ranges::count(one.second, warning), 1);
  }
}

// Red 200, green 100, blue 0 (gray 200) at alpha 128, straight and premultiplied, then a
// clear black pixel: the same colours on every route and through a profile. An extra
// sample ExtraSamples leaves unnamed (missing, or 0) is straight alpha, in gray too.
TEST(TiffDecoder, CompositesAlphaOntoWhite) {
  constexpr uint16_t kMissing = 0xFFFF;
  testing::TempDir dir;
  const std::string path = dir.File("alpha.tif");
  const auto profile = testing::ReadBytes("/usr/share/color/icc/colord/AdobeRGB1998.icc");
  // Through a profile, 16-bit samples (each byte twice) take the general route only.
  for (const auto& [samples, with_profile] : {std::pair{4, false}, {4, true}, {2, false}}) {
    std::vector<std::vector<uint8_t>> seen;
    for (uint16_t kind : std::vector<uint16_t>{EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_ASSOCALPHA,
                                               kMissing, EXTRASAMPLE_UNSPECIFIED}) {
      std::vector<std::vector<uint8_t>> rows(2);
      for (int v : samples == 4 ? std::vector{200, 100, 0, 128} : std::vector{200, 128}) {
        const bool halved = kind == EXTRASAMPLE_ASSOCALPHA && v != 128;  // premultiplied
        rows[0].insert(rows[0].end(), with_profile ? 2 : 1, uint8_t(halved ? v / 2 : v));
      }
      rows[1].resize(rows[0].size());  // clear black
      WriteTiff(path, rows, 1, with_profile ? 16 : 8, samples,
                samples == 4 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK, [&](TIFF* tif) {
                  const uint16_t extra[] = {kind};
                  if (kind != kMissing) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
                  if (with_profile)
                    TIFFSetField(tif, TIFFTAG_ICCPROFILE, profile.size(), profile.data());
                });
      for (TiffRoute route :
           with_profile || samples == 2
               ? std::vector{TiffRoute::Best, TiffRoute::Samples}
               : std::vector{TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
        SCOPED_TRACE(::testing::Message() << "kind " << kind << ", route " << int(route));
        testing::RecordingProgress progress;
        auto image = LoadTiffFileVia(route, path, nullptr, &progress);
        ASSERT_TRUE(image) << image.error().message();
        EXPECT_EQ(progress.reports.back(), std::make_pair(uint64_t{2}, uint64_t{2}));
        seen.push_back(ToRgb(*image).rgb);
      }
    }
    // 200 * 128/255 + 127, 100 * 128/255 + 127, 0 + 127; then white.
    if (!with_profile)
      seen.push_back({227, uint8_t(samples == 4 ? 177 : 227), uint8_t(samples == 4 ? 127 : 227),
                      255, 255, 255});
    for (const auto& rgb : seen)
      EXPECT_LE(MaxChannelDifference({2, 1, rgb}, {2, 1, seen.back()}), int{with_profile});
    EXPECT_NE(seen.front()[0], 255);
    EXPECT_EQ(seen.front()[3] & seen.front()[4] & seen.front()[5], 255);  // clear: white
  }
}

// One class of samples as a file may hold them.
struct SampleClass {
  uint16_t format, bits, samples;  // SampleFormat, BitsPerSample, 1 gray or 3 RGB
  double low, high;     // SMinSampleValue, SMaxSampleValue; both 0: none; low above high: no range
  const char* refusal;  // "": decoded by the rule
};

// Appends a sample in host order: `x` itself for floats and in a range, else
// `x` times half the range.
void AppendSample(const SampleClass& c, double x, std::vector<uint8_t>* row) {
  const double half = std::ldexp(1.0, c.bits - 1);
  // Floats of 16 and 24 bits: a sign, 5 or 7 bits of exponent, 10 or 16 of mantissa.
  const int mantissa = c.bits == 16 ? 10 : 16, exponents = c.bits == 16 ? 31 : 127;
  uint64_t bits = 0;
  if (c.format != SAMPLEFORMAT_IEEEFP) {
    bits =
        uint64_t(int64_t(c.low < c.high ? x : std::clamp(std::round(x * half), -half, half - 1)));
  } else if (c.bits >= 32) {
    bits = c.bits == 64 ? std::bit_cast<uint64_t>(x) : std::bit_cast<uint32_t>(float(x));
  } else if (std::isnan(x)) {
    bits = uint64_t(exponents) << mantissa | 1u << (mantissa - 1);
  } else {  // the narrow floats used are powers of two: their mantissa is 0
    bits = uint64_t(x < 0) << (c.bits - 1) | uint64_t(std::ilogb(x) + exponents / 2) << mantissa;
  }
  for (size_t i = 0, size = c.bits / 8; i < size; ++i) {
    row->push_back(
        uint8_t(bits >> 8 * (std::endian::native == std::endian::little ? i : size - 1 - i)));
  }
}

// Every width, gray and RGB, held to one rule: floats 0..1 onto 0..255, clamped (NaN
// black); signed integers offset by half their range; unsigned ones beyond 16 bits by
// their top 16; SMinSampleValue..SMaxSampleValue onto 0..255 (here 0, 64, 128, 255).
TEST(TiffSamples, FollowOneRuleInEveryWidth) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> floats = {-0.5, 0.25, 0.5, 1, 2, nan}, integers = {-1, -0.5, 0, 1},
                            ranged = {-100, -50, 0, 100, 200};
  const std::vector<uint8_t> from_floats = {0, 64, 128, 255, 255, 0},
                             from_integers = {0, 64, 128, 255}, from_range = {0, 64, 128, 255, 255};
  const uint16_t kInt = SAMPLEFORMAT_INT, kFloat = SAMPLEFORMAT_IEEEFP;
  std::vector<SampleClass> classes = {
      {kInt, 64, 1, 0, 0, "64-bit signed samples are not supported"},
      {SAMPLEFORMAT_UINT, 64, 3, 0, 0, "64-bit samples are not supported"},
      {kFloat, 8, 1, 0, 0, "8-bit floating-point samples are not supported"},
  };
  for (uint16_t samples : {1, 3}) {
    for (uint16_t bits : {8, 16, 32}) classes.push_back({kInt, bits, samples, 0, 0, ""});
    for (uint16_t bits : {16, 24, 32, 64}) classes.push_back({kFloat, bits, samples, 0, 0, ""});
    classes.push_back({kInt, 16, samples, -100, 100, ""});
    classes.push_back({kFloat, 32, samples, -100, 100, ""});
    classes.push_back({kFloat, 32, samples, 5, -5, ""});
  }
  classes.push_back({kInt, 8, 1, -128, nan, ""});  // no SMaxSampleValue: the type's top
  testing::TempDir dir;
  const std::string path = dir.File("samples.tif");
  for (const SampleClass& c : classes) {
    SCOPED_TRACE(::testing::Message()
                 << c.format << '/' << c.bits << '/' << c.samples << '/' << c.low);
    const bool floating = c.format == kFloat, range = c.low<c.high, no_range = c.low> c.high;
    const auto& values = range ? ranged : floating ? floats : integers;
    const auto& expected = range ? from_range : floating ? from_floats : from_integers;
    std::vector<uint8_t> row, rgb;  // rgb: what the rule makes of each pixel
    for (size_t x = 0; x < values.size(); ++x) {
      for (uint16_t s = 0; s < c.samples; ++s)
        AppendSample(c, values[(x + s) % values.size()], &row);
      for (uint16_t s = 0; s < 3; ++s)
        rgb.push_back(expected[(x + (c.samples == 3 ? s : 0)) % values.size()]);
    }
    // Big-endian: libtiff swaps the samples into host order.
    WriteTiff(
        path, {row}, uint32_t(values.size()), c.bits, c.samples,
        c.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK,
        [&](TIFF* tif) {
          TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, c.format);
          if (c.low != 0 || c.high != 0) TIFFSetField(tif, TIFFTAG_SMINSAMPLEVALUE, c.low);
          if (range || no_range) TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, c.high);
        },
        "wb");
    Warnings warnings;
    auto image = LoadTiffFile(path, &warnings, nullptr);
    if (*c.refusal != 0) {
      testing::ExpectFailure(image, ErrorKind::Unsupported, "TIFF: ", c.refusal);
      continue;
    }
    ASSERT_TRUE(image) << image.error().message();
    ASSERT_EQ(warnings.size(), no_range ? 1u : 0u);  // "... are no range"
    EXPECT_EQ(ToRgb(*image).rgb, rgb);
  }
  // 32-bit unsigned samples read as the 16-bit ones of their top halves.
  const uint32_t tops[] = {0, 0x0080FFFF, 0x80000000, 0xFFFFFFFF};
  const auto* top = reinterpret_cast<const uint8_t*>(tops);
  WriteTiff(path, {{top, top + sizeof tops}}, 4, 32, 1, PHOTOMETRIC_MINISBLACK);
  EXPECT_EQ(testing::Bytes(LoadTiffFile(path, nullptr, nullptr).value()),
            (std::vector<uint8_t>{0, 0, 128, 255}));
}

// CIELab and ICCLab at 8 and 16 bits become sRGB as tificc converts them: as Lab under
// D50, or through their own (abstract) Lab profile; an RGB one costs a warning.
TEST(TiffLab, ConvertsLabToSrgbAsTificcDoes) {
  testing::TempDir dir;
  const auto write = [&](const std::string& path, uint16_t photometric, uint16_t bits,
                         const std::vector<uint8_t>& profile) {
    const double top = bits == 16 ? 65535 : 255, scale = bits == 16 ? 256 : 1,
                 offset = photometric == PHOTOMETRIC_CIELAB ? 0 : 128;
    std::vector<uint8_t> row;
    for (int i = 0; i < 45; ++i) {  // L* 0 to 100 by 25; a* and b* -60, 0 and 60
      for (double v : {i / 9 * 0.25 * top, ((i / 3 % 3 - 1) * 60 + offset) * scale,
                       ((i % 3 - 1) * 60 + offset) * scale})
        AppendSample({SAMPLEFORMAT_INT, bits, 3, 0, 1, ""}, v, &row);  // v itself
    }
    WriteTiff(path, {row}, 45, bits, 3, photometric, [&](TIFF* tif) {
      if (!profile.empty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.data());
    });
  };
  // tificc reads CIELab only: an ICCLab file is held to its CIELab twin's picture.
  const std::string path = dir.File("lab.tif"), twin = dir.File("twin.tif"),
                    converted = dir.File("converted.tif");
  for (uint16_t photometric : {PHOTOMETRIC_CIELAB, PHOTOMETRIC_ICCLAB}) {
    for (uint16_t bits : {8, 16}) {
      for (const std::string profile : {"", "CineLogCurve.icc", "colord/sRGB.icc"}) {
        SCOPED_TRACE(::testing::Message() << photometric << ", " << bits << " bits, " << profile);
        const bool foreign = profile.ends_with("sRGB.icc");
        const auto bytes = profile.empty() ? std::vector<uint8_t>()
                                           : testing::ReadBytes("/usr/share/color/icc/" + profile);
        write(path, photometric, bits, bytes);
        write(twin, PHOTOMETRIC_CIELAB, bits, foreign ? std::vector<uint8_t>() : bytes);
        Warnings warnings;
        auto image = LoadTiffFile(path, &warnings, nullptr);
        ASSERT_TRUE(image) << image.error().message();
        ASSERT_EQ(warnings.size(), foreign ? 1u : 0u);
        EXPECT_TRUE(!foreign ||
                    warnings[0].find("is for RGB but the picture is Lab") != std::string::npos);
        ASSERT_EQ(testing::RunCommand("tificc '-i*Lab' '" + twin + "' '" + converted + "'"), 0);
        EXPECT_GE(testing::Psnr(ToRgb(*image), testing::DecodeWithImageMagick(converted).value()),
                  40.0);
      }
    }
  }
  write(path, PHOTOMETRIC_ITULAB, 8, {});
  testing::ExpectFailure(LoadTiffFile(path, nullptr, nullptr), ErrorKind::Unsupported,
                         "TIFF: ITU Lab pictures are not supported", path);
}

// Each of these failed the import; a tag that only says how to show the
// picture costs one warning, and the picture is the file's without the tag.
TEST(TiffMetadata, DamagedTagsCostOneWarningAndTheTag) {
  testing::TempDir dir;
  const std::vector<uint8_t> junk(200, 0x5A);
  const auto write = [&](bool profile) {
    WriteTiff(dir.File("metadata.tif"), {{10}, {200}, {77}}, 1, 8, 1, PHOTOMETRIC_MINISBLACK,
              [&](TIFF* tif) {
                TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
                TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
                TIFFSetField(tif, TIFFTAG_YRESOLUTION, 150.0);
                TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
                if (profile) TIFFSetField(tif, TIFFTAG_ICCPROFILE, junk.size(), junk.data());
              });
    return testing::ReadBytes(dir.File("metadata.tif"));
  };
  const Image expected = DecodeTiff(write(false), "clean", nullptr, nullptr).value();
  // Each damage, its warning, and whether the resolution survives it.
  const std::tuple<std::string, Damage, std::string, bool> cases[] = {
      {"orientation 9", SetTag(TIFFTAG_ORIENTATION, 0, 9), "the Orientation 9 is not one of 1 to 8",
       true},
      {"unit 7", SetTag(TIFFTAG_RESOLUTIONUNIT, 0, 7),
       "the ResolutionUnit 7 is not one TIFF allows", false},
      {"resolution 0",  // a zero denominator
       [](auto& b) { std::fill_n(b.begin() + TagValue(b, TIFFTAG_XRESOLUTION, 0) + 4, 4, 0); },
       "the XResolution 0.000000 is no resolution", false},
      {"empty profile",  // a count of 0
       [](auto& b) { std::fill_n(b.begin() + EntryOf(b, TIFFTAG_ICCPROFILE) + 4, 4, 0); },
       "the ICC profile is empty", true},
      {"unreadable profile", [](auto&) {}, "the ICC profile cannot be read", true},
  };
  for (const auto& [name, damage, warning, kept] : cases) {
    SCOPED_TRACE(name);
    auto bytes = write(name.ends_with("profile"));
    damage(bytes);
    Warnings warnings;
    auto image = DecodeTiff(bytes, name, &warnings, nullptr);
    ASSERT_TRUE(image) << image.error().message();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].starts_with("TIFF: " + warning)) << warnings[0];
    EXPECT_EQ(testing::Bytes(*image), testing::Bytes(expected));
    EXPECT_EQ(image->orientation, kUpright);
    EXPECT_EQ(std::pair(image->x_pixels_per_metre, image->y_pixels_per_metre),
              std::pair(kept * expected.x_pixels_per_metre, kept * expected.y_pixels_per_metre));
  }
}

// Reads touching 240 bytes from fault_from fail with EIO, or `kEnds` come back empty.
off_t fault_from;
template <bool kEnds>
ssize_t FaultyRead(int fd, void* buffer, size_t count, off_t offset) {
  const bool faulty = offset < fault_from + 240 && offset + off_t(count) > fault_from;
  if (faulty) errno = EIO;
  return !faulty ? ::pread(fd, buffer, count, offset) : kEnds ? 0 : -1;
}

// Most once went wrong on the threads, which read strips by their computed size whatever
// the byte counts said. `expected` is in the message or warnings ("": a clean picture).
TEST(TiffThreads, HonourTheLayoutAsOneThreadDoes) {
  testing::TempDir dir;
  // Strip 2 as two runs of 120 bytes: each crosses rows of 40.
  const auto runs_across_rows = [](std::vector<uint8_t>& b) {
    const uint8_t runs[] = {0x89, 50, 0x89, 200};  // -119: the next byte 120 times
    std::copy(std::begin(runs), std::end(runs), b.begin() + TagValue(b, kOffsets, 2));
    TagValue(b, kCounts, 2, sizeof runs);
  };
  const auto fault_in_strip_5 = [](auto& b) { fault_from = TagValue(b, kOffsets, 5); };
  const uint16_t kTileCounts = TIFFTAG_TILEBYTECOUNTS;
  const std::string none = "-c none -r 6", tiles = "-c none -t -w 16 -l 16";
  const std::string plain = dir.File("plain.tif"), path = dir.File("damaged.tif");
  ASSERT_TRUE(SaveTiffFile(plain, testing::Noise(40, 60, PixelFormat::Gray8), false, nullptr));
  const struct {
    std::string name, options;
    Damage damage;
    std::string expected;
    std::optional<ErrorKind> kind = {};
    TiffInput::ReadAt read_at = ::pread;
  } cases[] = {
      {"short count", none, SetTag(kCounts, 4, -10, 4), "Not enough data for scanline 29"},
      {"long count", none, SetTag(kCounts, 4, 100, 4), ""},
      {"count past the end", none, SetTag(kCounts, 9, 5000, 9), "Read error at scanline 54",
       ErrorKind::Truncated},
      {"zero count", none, SetTag(kCounts, 3, 0), "Invalid strip byte count 0, strip 3"},
      {"shared offsets", none, SetTag(kOffsets, 5, 0, 2), ""},
      {"offset past the end", none, SetTag(kOffsets, 6, 100000, 9), "got 0 bytes"},
      {"taller strips than counted", none, SetTag(TIFFTAG_ROWSPERSTRIP, 0, 7),
       "Not enough data for scanline 6"},
      {"more strips than counted", none, SetTag(TIFFTAG_ROWSPERSTRIP, 0, 5),
       "Incorrect count for \"StripOffsets\""},
      {"cut LZW strip", "-c lzw -r 6", SetTag(kCounts, 4, -60, 4), "Strip 4 not terminated"},
      {"PackBits runs across rows", "-c packbits -r 6", runs_across_rows, "Discarding 80 bytes"},
      {"cut PackBits strip", "-c packbits -r 6", SetTag(kCounts, 4, -100, 4), "lack of data"},
      {"short tile count", tiles, SetTag(kTileCounts, 2, -10, 2),
       "Not enough data for scanline 32"},
      {"long tile count", tiles, SetTag(kTileCounts, 2, 100, 2), "too small to hold tile 2"},
      // A failed read is told in the system's words, never as a file cut short;
      // a read that ends early while the file keeps its size is libtiff's error.
      {"failed read", none, fault_in_strip_5, "cannot read " + path + ": Input/output error",
       ErrorKind::Io, FaultyRead<false>},
      {"read ending early", none, fault_in_strip_5, "TIFF: Read error", ErrorKind::Truncated,
       FaultyRead<true>},
      // 16384 x 16384 pixels in one strip of a few KB: far more than the file can hold.
      {"a claim beyond the file", "-c lzw -r 6",
       [](auto& b) {
         for (uint16_t tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP})
           TagValue(b, tag, 0, 16384);
       },
       "strips or tiles of", ErrorKind::Malformed},
      {"text", none, [](auto& b) { b = {'h', 'e', 'l', 'l', 'o', '!', '!', '!'}; }, "Not a TIFF",
       ErrorKind::Malformed},
  };
  for (const auto& [name, options, damage, expected, kind, read_at] : cases) {
    SCOPED_TRACE(name);  // tiffcp writes strips of 6 rows or tiles of 16 x 16 as `options` say
    ASSERT_EQ(testing::RunCommand("tiffcp " + options + " '" + plain + "' '" + path + "'"), 0);
    auto bytes = testing::ReadBytes(path);
    damage(bytes);
    testing::WriteBytes(path, bytes);
    auto [said, warnings] = SameOutcomeOnAnyThreads(path, read_at);
    const bool clean = said.size() == 40 * 60;
    for (const std::string& warning : warnings) said += "\n" + warning;
    EXPECT_TRUE(expected.empty() ? clean : said.find(expected) != std::string::npos) << said;
    if (kind) {
      testing::ExpectFailure(LoadTiffFileVia(TiffRoute::Best, path, nullptr, nullptr, read_at),
                             *kind, "", expected);
    }
  }
}

// Rows 0 and 2 hold the edges of PackBits: runs of 2, 3, 128, 129, 130, literals of 129
// and 128, a run at the row's end; row 2 ends in literals whose last bytes pair.
TEST(TiffEncoder, RoundTripsBgrAndGrayWithOddWidths) {
  testing::TempDir dir;
  const std::string path = dir.File("out.tif");
  std::vector<uint8_t> runs;
  for (size_t run : {2, 3, 128, 129, 130, 1}) runs.insert(runs.end(), run, uint8_t(run));
  for (size_t i = 0; i < 257; ++i) runs.push_back(uint8_t(i < 129 ? i * 37 : (i - 129) * 11 + 1));
  runs.insert(runs.end(), 5, 200);
  std::vector<std::pair<uint64_t, uint64_t>> rows;  // one thread reports each row
  for (uint64_t done = 1; done <= 300; ++done) rows.emplace_back(done, 300);
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    for (bool packbits : {false, true}) {
      Image image = testing::Noise(uint32_t(runs.size()), 300, format);
      for (uint32_t y : {0, 2}) std::copy(runs.begin(), runs.end(), image.row(y));
      const size_t row_bytes = size_t{image.width()} * BytesPerPixel(format);
      for (uint8_t i : {4, 3, 2, 1}) image.row(2)[row_bytes - i] = i == 2 ? 9 : 7;
      image.x_pixels_per_metre = packbits ? 3780 : 0;
      image.y_pixels_per_metre = packbits ? 2835 : 0;
      testing::RecordingProgress saving;
      ASSERT_TRUE(SaveTiffFile(path, image, packbits, &saving));
      std::vector<std::pair<uint64_t, uint64_t>> strips;  // a report a strip of 64 KiB
      for (uint64_t done = 0; done < 300;)
        strips.emplace_back(done = std::min<uint64_t>(done + 65536 / row_bytes, 300), 300);
      EXPECT_EQ(saving.reports, strips);
      for (TiffRoute route : {TiffRoute::Fast, TiffRoute::Samples}) {
        SCOPED_TRACE(int(route));
        ScopedThreadCount one(1);
        testing::RecordingProgress loading;
        Warnings warnings;  // an unknown resolution is left out, not written as 0
        auto back = LoadTiffFileVia(route, path, &warnings, &loading);
        ASSERT_TRUE(back) << back.error().message();
        EXPECT_EQ(testing::Bytes(*back), testing::Bytes(image));
        EXPECT_EQ(std::tuple(back->x_pixels_per_metre, back->y_pixels_per_metre, warnings),
                  std::tuple(image.x_pixels_per_metre, image.y_pixels_per_metre, Warnings{}));
        EXPECT_EQ(loading.reports, rows);
      }
    }
  }
  // A run among bytes looked at sixteen at a time is a repeat; the strip follows the header.
  Image row = testing::Noise(23, 1, PixelFormat::Gray8);
  std::fill_n(row.row(0) + 5, 3, 7);
  ASSERT_TRUE(SaveTiffFile(path, row, true, nullptr));
  const uint8_t* r = row.row(0);
  std::vector<uint8_t> expected{4, r[0], r[1], r[2], r[3], r[4], 0xFE, 7, 14};
  expected.insert(expected.end(), r + 8, r + 23);
  const auto bytes = testing::ReadBytes(path);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 32), expected);
  testing::ExpectFailure(SaveTiffFile(path, Image(), false, nullptr), ErrorKind::InvalidValue, "",
                         "");
}

}  // namespace
}  // namespace zavo
