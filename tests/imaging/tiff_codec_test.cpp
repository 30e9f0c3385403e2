#include "imaging/tiff_codec.h"

#include <tiffio.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "imaging/parallel_rows.h"
#include "imaging/tiff_decode.h"
#include "support/test_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;
using testing::MaxChannelDifference;
using testing::RgbPicture;
using testing::ToRgb;

// --- Building and inspecting files ---------------------------------------

// Writes a small TIFF through libtiff: `tags` sets the fields, `rows` are the
// packed samples of each row.
void WriteTiff(const std::string& path, const std::function<void(TIFF*)>& tags,
               std::vector<std::vector<uint8_t>> rows) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  tags(tif);
  for (uint32_t y = 0; y < rows.size(); ++y) TIFFWriteScanline(tif, rows[y].data(), y, 0);
  TIFFClose(tif);
}

// A classic little-endian TIFF with one directory of LONG fields (sorted by
// tag), followed by `data`; StripOffsets, if given as 0, points at the data.
std::vector<uint8_t> TinyTiff(std::vector<std::pair<uint16_t, uint32_t>> fields,
                              const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};  // byte order, magic, IFD at 8
  auto put = [&out](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  const uint32_t data_offset = static_cast<uint32_t>(8 + 2 + fields.size() * 12 + 4);
  put(fields.size(), 2);  // entry count
  for (auto [tag, value] : fields) {
    put(tag, 2);  // tag
    put(4, 2);    // type LONG
    put(1, 4);    // count
    put(tag == TIFFTAG_STRIPOFFSETS && value == 0 ? data_offset : value, 4);
  }
  put(0, 4);  // no next IFD
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// The fields that decide which judge a corpus file gets, read by libtiff itself.
struct Tags {
  uint16_t bits = 1, photometric = 0, compression = 1, format = 1, planar = 1, extra = 0;
  uint16_t alpha = 0;
};

// libtiff's own tools print its warnings; here they would only be noise.
TIFF* OpenQuietly(const std::string& path) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetWarningHandlerExtR(
      options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; }, nullptr);
  TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  return tif;
}

Tags ReadTags(const std::string& path) {
  Tags tags;
  TIFF* tif = OpenQuietly(path);
  if (tif == nullptr) return tags;
  uint16_t* kinds = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &tags.bits);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &tags.photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &tags.format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &tags.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &tags.extra, &kinds);
  if (tags.extra > 0) tags.alpha = kinds[0];
  TIFFClose(tif);
  return tags;
}

// --- Judges ----------------------------------------------------------------

// ImageMagick's picture; `before_flatten` goes in before the alpha is removed.
std::optional<RgbPicture> Magick(const std::string& path, const std::string& before_flatten = "") {
  if (before_flatten.empty()) return testing::DecodeWithImageMagick(path);
  testing::TempDir dir;
  const std::string miff = dir.File("reference.miff");
  if (testing::RunCommand("convert '" + path + "[0]' " + before_flatten + " '" + miff +
                          "' 2>/dev/null") != 0) {
    return std::nullopt;
  }
  return testing::DecodeWithImageMagick(miff);
}

// libtiff's own converter, for variants ImageMagick 6.9.11 draws wrongly.
std::optional<RgbPicture> Tiff2Rgba(const std::string& path) {
  testing::TempDir dir;
  const std::string rgba = dir.File("rgba.tif");
  if (testing::RunCommand("tiff2rgba -c none '" + path + "' '" + rgba + "' 2>/dev/null") != 0) {
    return std::nullopt;
  }
  return Magick(rgba);
}

enum class Judge { Magick, MagickInSrgb, MagickNegated, MagickSignFlipped, Tiff2Rgba, Twin, Skip };

struct Rule {
  Judge judge;
  int tolerance;
  std::string twin_or_reason;
};

// Files whose judge has to be named.
const std::map<std::string, Rule>& NamedRules() {
  static const std::map<std::string, Rule> rules = {
      // ImageMagick misreads 24-bit samples: the same picture at another depth judges.
      {"libtiffpic_flower-minisblack-24.tif",
       {Judge::Twin, 1, "libtiffpic_flower-minisblack-16.tif"}},
      {"libtiffpic_flower-rgb-contig-24.tif",
       {Judge::Twin, 1, "libtiffpic_flower-rgb-contig-16.tif"}},
      {"libtiffpic_flower-rgb-planar-24.tif",
       {Judge::Twin, 1, "libtiffpic_flower-rgb-planar-16.tif"}},
      {"itiff_seq-1c-24b-072a9dc9.tiff",
       {Judge::Twin, 1, "itiff_seq-1c-8b-bigendian-20f3db0c.tiff"}},
      {"itiff_seq-1c-24b-miniswhite-072a9dc9.tiff",
       {Judge::Twin, 0, "itiff_seq-1c-24b-072a9dc9.tiff"}},
      {"itiff_seq-3c-24b-contig-27b9f8ce.tiff",
       {Judge::Twin, 1, "itiff_seq-3c-8b-bigendian-8743c999.tiff"}},
      {"itiff_seq-3c-24b-planar-6296c0c9.tiff",
       {Judge::Skip, 0, "24-bit, which ImageMagick misreads, and no other file holds its picture"}},
      // Signed samples span -2^(b-1)..2^(b-1)-1; the unsigned original judges.
      {"itiff_minisblack-1c-i8b.tiff", {Judge::Twin, 1, "minisblack-1c-8b.tiff"}},
      {"itiff_seq-1c-i8-f8446bbe.tiff",
       {Judge::Twin, 0, "itiff_seq-1c-8b-bigendian-20f3db0c.tiff"}},
      {"itiff_seq-1c-i32-99fddec2.tiff",
       {Judge::Skip, 0, "ImageMagick reads signed 32-bit samples as unsigned; no unsigned twin"}},
      {"itiff_seq-3c-i8-d7550ce4.tiff",
       {Judge::Skip, 0,
        "min-is-black with 3 samples: libtiff takes the 1st as gray, ImageMagick another"}},
      {"itiff_seq-3c-i16-f7fcf423.tiff",
       {Judge::Skip, 0,
        "min-is-black with 3 samples: libtiff takes the 1st as gray, ImageMagick another"}},
      // ImageMagick takes an unspecified extra sample for alpha; see
      // IgnoresUnspecifiedExtraSamples.
      {"itiff_extra_bits_gray_8b.tiff", {Judge::Skip, 0, "unspecified extra sample"}},
      {"itiff_extra_bits_rgb_8b.tiff", {Judge::Skip, 0, "unspecified extra sample"}},
      // ImageMagick refuses a side beyond 65535; see DecodesALongThinFax.
      {"itiff_big_g4.tif", {Judge::Skip, 0, "1 x 65537, beyond ImageMagick's limit"}},
  };
  return rules;
}

// Where ImageMagick 6.9.11 is no judge, by what the file holds.
Rule RuleFor(const std::string& name, const Tags& tags) {
  if (auto named = NamedRules().find(name); named != NamedRules().end()) return named->second;
  // It draws old-style JPEG, uncompressed subsampled YCbCr and separate
  // gray+alpha planes in false colours, and LogL on its own tone curve.
  if (tags.compression == COMPRESSION_OJPEG || tags.photometric == PHOTOMETRIC_LOGL ||
      (tags.photometric == PHOTOMETRIC_YCBCR && tags.compression != COMPRESSION_JPEG) ||
      (tags.photometric == PHOTOMETRIC_MINISBLACK && tags.planar == PLANARCONFIG_SEPARATE)) {
    return {Judge::Tiff2Rgba, 1, ""};
  }
  // It ignores min-is-white except at 1 and 8 bits: its picture is our negative.
  if (tags.photometric == PHOTOMETRIC_MINISWHITE && tags.bits != 1 && tags.bits != 8) {
    return {Judge::MagickNegated, 1, ""};
  }
  if (tags.format == SAMPLEFORMAT_INT && tags.bits == 8) return {Judge::MagickSignFlipped, 0, ""};
  // It flattens CMYK+alpha onto white in CMYK; flattening after conversion is right.
  if (tags.photometric == PHOTOMETRIC_SEPARATED && tags.extra > 0) {
    return {Judge::MagickInSrgb, 1, ""};
  }
  // Both copy 1-, 2-, 4- and 8-bit samples exactly; one level of rounding apart
  // where samples are rescaled, 16-bit colour maps shortened, CMYK converted or
  // straight alpha blended.
  const bool exact = (tags.bits == 1 || tags.bits == 2 || tags.bits == 4 || tags.bits == 8) &&
                     tags.format != SAMPLEFORMAT_IEEEFP &&
                     tags.photometric != PHOTOMETRIC_PALETTE &&
                     tags.photometric != PHOTOMETRIC_SEPARATED &&
                     !(tags.extra > 0 && tags.alpha == EXTRASAMPLE_UNASSALPHA);
  return {Judge::Magick, exact ? 0 : 1, ""};
}

std::optional<RgbPicture> Reference(const Rule& rule, const fs::path& file) {
  if (rule.judge == Judge::Tiff2Rgba) return Tiff2Rgba(file);
  if (rule.judge == Judge::Twin) {
    auto twin = LoadTiffFile((file.parent_path() / rule.twin_or_reason).string(), nullptr, nullptr);
    return twin ? std::optional(ToRgb(*twin)) : std::nullopt;
  }
  auto picture = Magick(file, rule.judge == Judge::MagickInSrgb ? "-colorspace sRGB" : "");
  if (!picture) return picture;
  for (auto& value : picture->rgb) {
    if (rule.judge == Judge::MagickNegated) value = static_cast<uint8_t>(255 - value);
    if (rule.judge == Judge::MagickSignFlipped) value ^= 0x80;
  }
  return picture;
}

// Decodes a valid file and holds it against its judge.
void DecodesLikeItsJudge(const fs::path& path, const Image& image) {
  const std::string name = path.filename().string();
  const Tags tags = ReadTags(path.string());
  const bool gray = tags.photometric == PHOTOMETRIC_MINISBLACK ||
                    tags.photometric == PHOTOMETRIC_MINISWHITE ||
                    tags.photometric == PHOTOMETRIC_LOGL;
  EXPECT_EQ(image.format(), gray ? PixelFormat::Gray8 : PixelFormat::Bgr24);
  const Rule rule = RuleFor(name, tags);
  if (rule.judge == Judge::Skip) return;
  const auto reference = Reference(rule, path);
  ASSERT_TRUE(reference.has_value()) << "no reference picture";
  EXPECT_LE(MaxChannelDifference(ToRgb(image), *reference), rule.tolerance);
}

Result<Image> DecodeVia(TiffRoute route, const fs::path& path, Warnings* warnings = nullptr,
                        Progress* progress = nullptr) {
  const auto bytes = testing::ReadBytes(path.string());
  return DecodeTiffVia(route, bytes, path.string(), warnings, progress);
}

// The pixels or the error message, and the warnings, with `threads` threads.
std::pair<std::string, Warnings> Outcome(const fs::path& path, unsigned threads) {
  ScopedThreadCount count(threads);
  Warnings warnings;
  auto image = DecodeVia(TiffRoute::Best, path, &warnings);
  if (!image) return {image.error().message(), warnings};
  const auto bytes = testing::Bytes(*image);
  return {std::string(bytes.begin(), bytes.end()), warnings};
}

// --- The corpus -------------------------------------------------------------

// Every valid file, rare variants included (deeper samples, floats, 16-bit
// CMYK...), decodes like its judge; where the fast route takes a file, the
// general RGBA route gives the very same pixels; threads change nothing.
TEST(TiffCorpus, DecodesEveryValidFileLikeItsJudge) {
  ZAVO_REQUIRE_TESTDATA(dir);
  int fast = 0;
  for (const auto& file : testing::Corpus(dir, "tiff/good/")) {
    SCOPED_TRACE(file.path.string());
    auto image = LoadTiffFile(file.path.string(), nullptr, nullptr);
    ASSERT_TRUE(image) << image.error().message();
    DecodesLikeItsJudge(file.path, *image);
    EXPECT_TRUE(Outcome(file.path, 3) == Outcome(file.path, 1));
    if (auto quick = DecodeVia(TiffRoute::Fast, file.path)) {
      auto rgba = DecodeVia(TiffRoute::Rgba, file.path);
      ASSERT_TRUE(rgba) << rgba.error().message();
      EXPECT_EQ(MaxChannelDifference(ToRgb(*quick), ToRgb(*rgba)), 0);
      ++fast;
    }
  }
  EXPECT_GE(fast, 30);  // none, PackBits, LZW, Deflate, JPEG; gray, RGB, RGBA
  // ImageMagick refuses a side beyond 65535.
  auto fax = LoadTiffFile((dir / "tiff/good/itiff_big_g4.tif").string(), nullptr, nullptr);
  ASSERT_TRUE(fax);
  EXPECT_EQ(std::pair(fax->width(), fax->height()), std::pair(1u, 65537u));
}

// Every route, not only the one the file would take, meets the hostile input,
// and threads change neither the picture nor the failure.
TEST(TiffCorpus, RefusesOrDecodesDamagedFilesWithoutHarm) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const auto& file : testing::Corpus(dir, "tiff/bad/")) {
    SCOPED_TRACE(file.path.string());
    for (TiffRoute route :
         {TiffRoute::Best, TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
      auto image = DecodeVia(route, file.path);
      if (!image) {
        testing::ExpectFailure(image, image.error().kind(), "TIFF: ", file.path.string());
      } else {
        EXPECT_GT(image->width() * image->height(), 0u);
      }
    }
    EXPECT_TRUE(Outcome(file.path, 3) == Outcome(file.path, 1));
  }
}

TEST(TiffRoutes, SamplesAndRgbaRoutesAgreeWithinRounding) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const char* name :
       {"rgb-3c-16b.tiff", "minisblack-1c-16b.tiff", "palette-1c-8b.tiff",
        "libtiffpic_flower-separated-planar-08.tif", "itiff_seq-4c-16b-rgba-5181991f.tiff",
        "itiff_seq-1c-4b-miniswhite-fb92dcae.tiff", "libtiffpic_quad-tile.tif"}) {
    auto samples = DecodeVia(TiffRoute::Samples, dir / "tiff/good" / name);
    auto rgba = DecodeVia(TiffRoute::Rgba, dir / "tiff/good" / name);
    ASSERT_TRUE(samples && rgba) << name;
    EXPECT_LE(MaxChannelDifference(ToRgb(*samples), ToRgb(*rgba)), 1) << name;
  }
}

// --- Decoder ----------------------------------------------------------------

TEST(TiffDecoder, MapsSignedSamplesOntoTheUnsignedScaleAndIgnoresUnspecifiedExtras) {
  ZAVO_REQUIRE_TESTDATA(dir);
  testing::TempDir temp;
  const std::string path = temp.File("signed.tif");
  // -128, -1, 0 and 127 as signed bytes.
  WriteTiff(path, [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT); },
            {{0x80}, {0xff}, {0x00}, {0x7f}});
  auto image = LoadTiffFile(path, nullptr, nullptr);
  ASSERT_TRUE(image) << image.error().message();
  EXPECT_EQ(ToRgb(*image).rgb,
            std::vector<uint8_t>({0, 0, 0, 127, 127, 127, 128, 128, 128, 255, 255, 255}));
  // Samples 0 with an extra sample of 1: black, not almost transparent.
  for (const char* name : {"itiff_extra_bits_gray_8b.tiff", "itiff_extra_bits_rgb_8b.tiff"}) {
    image = LoadTiffFile((dir / "tiff/good" / name).string(), nullptr, nullptr);
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(ToRgb(*image).rgb, std::vector<uint8_t>(ToRgb(*image).rgb.size(), 0)) << name;
  }
}

// Red 200, green 100, blue 0 at alpha 128, stored straight and premultiplied,
// then a fully transparent black pixel: the same colours on every route, and
// through a colour profile too.
TEST(TiffDecoder, CompositesAlphaOntoWhite) {
  testing::TempDir dir;
  const std::vector<uint8_t> profile =
      testing::ReadBytes("/usr/share/color/icc/colord/AdobeRGB1998.icc");
  ASSERT_FALSE(profile.empty());
  // Through a profile, samples of 16 bits (each byte twice) go through the
  // general route only.
  for (bool with_profile : {false, true}) {
    std::vector<std::vector<uint8_t>> seen;
    for (uint16_t kind : {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_ASSOCALPHA}) {
      const uint8_t scale = kind == EXTRASAMPLE_ASSOCALPHA ? 2 : 1;
      std::vector<std::vector<uint8_t>> rows;
      for (const std::vector<int>& row :
           {std::vector{200 / scale, 100 / scale, 0, 128}, {0, 0, 0, 0}}) {
        rows.emplace_back();
        for (int v : row) rows.back().insert(rows.back().end(), with_profile ? 2 : 1, uint8_t(v));
      }
      const std::string path = dir.File("alpha.tif");
      WriteTiff(
          path,
          [&](TIFF* tif) {
            const uint16_t extra[] = {kind};
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
            if (!with_profile) return;
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
            TIFFSetField(tif, TIFFTAG_ICCPROFILE, profile.size(), profile.data());
          },
          rows);
      for (TiffRoute route :
           with_profile ? std::vector{TiffRoute::Best, TiffRoute::Samples}
                        : std::vector{TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
        SCOPED_TRACE(::testing::Message() << "kind " << kind << ", route " << int(route));
        auto image = DecodeVia(route, path);
        ASSERT_TRUE(image) << image.error().message();
        seen.push_back(ToRgb(*image).rgb);
      }
    }
    // 200 * 128/255 + 127, 100 * 128/255 + 127, 0 + 127; then white.
    if (!with_profile) seen.push_back({227, 177, 127, 255, 255, 255});
    for (const auto& rgb : seen) {
      EXPECT_LE(MaxChannelDifference({2, 1, rgb}, {2, 1, seen.back()}), int{with_profile});
    }
    EXPECT_NE(seen.front()[0], 255);
  }
}

TEST(TiffDecoder, ReadsResolutionPerInchPerCentimetreOrNone) {
  testing::TempDir dir;
  const std::string path = dir.File("resolution.tif");
  const std::vector<std::tuple<uint16_t, float, uint32_t>> cases = {
      {RESUNIT_INCH, 300, 11811}, {RESUNIT_CENTIMETER, 40, 4000}, {RESUNIT_NONE, 300, 0}};
  for (auto [unit, resolution, ppm] : cases) {
    WriteTiff(path,
              [unit, resolution](TIFF* tif) {
                TIFFSetField(tif, TIFFTAG_XRESOLUTION, resolution);
                TIFFSetField(tif, TIFFTAG_YRESOLUTION, resolution / 2);
                TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
              },
              {{0}});
    auto image = LoadTiffFile(path, nullptr, nullptr);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->x_pixels_per_metre, ppm) << "unit " << unit;
    EXPECT_EQ(image->y_pixels_per_metre, (ppm + 1) / 2) << "unit " << unit;
  }
}

// Each refusal names the format, the defect and the file.
TEST(TiffDecoder, RefusesWhatItCannotOrMustNotDecode) {
  testing::TempDir dir;
  WriteTiff(dir.File("float.tif"),
            [](TIFF* tif) {
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 24);
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
            },
            {{0, 0, 0}});
  const auto strip = [](uint32_t width, uint32_t height, uint32_t compression, uint32_t bytes,
                        const std::vector<uint8_t>& data) {
    return TinyTiff({{TIFFTAG_IMAGEWIDTH, width},
                     {TIFFTAG_IMAGELENGTH, height},
                     {TIFFTAG_BITSPERSAMPLE, 8},
                     {TIFFTAG_COMPRESSION, compression},
                     {TIFFTAG_STRIPOFFSETS, 0},
                     {TIFFTAG_ROWSPERSTRIP, height},
                     {TIFFTAG_STRIPBYTECOUNTS, bytes}},
                    data);
  };
  const std::tuple<std::string, std::vector<uint8_t>, ErrorKind, std::string> cases[] = {
      {"float", testing::ReadBytes(dir.File("float.tif")), ErrorKind::Unsupported,
       "TIFF: 24-bit floating-point samples are not supported: float"},
      {"wide", strip(2000000, 1, COMPRESSION_NONE, 70000, {0}), ErrorKind::TooLarge,
       "2000000 x 1 pixels is beyond the limit"},
      // 60000 x 4000 from four bytes of LZW: far more than the file can hold.
      {"bomb", strip(60000, 4000, COMPRESSION_LZW, 4, {0x80, 0, 0, 0}), ErrorKind::Malformed,
       "strips or tiles of"},
      // 4 x 4 claiming 16 bytes of pixels where the file holds 8.
      {"cut", strip(4, 4, COMPRESSION_NONE, 16, std::vector<uint8_t>(8, 0x55)),
       ErrorKind::Truncated, ""},
      {"empty", {}, ErrorKind::Truncated, ""},
      {"text", {'h', 'e', 'l', 'l', 'o', '!', '!', '!'}, ErrorKind::Malformed, ""},
  };
  for (const auto& [name, bytes, kind, words] : cases) {
    SCOPED_TRACE(name);
    auto image = DecodeTiff(bytes, name, nullptr, nullptr);
    testing::ExpectFailure(image, kind, "TIFF: ", words);
    EXPECT_NE(image.error().message().find(name), std::string::npos);
  }
}

TEST(TiffDecoder, PassesLibtiffWarningsOnOnceEach) {
  ZAVO_REQUIRE_TESTDATA(dir);
  const std::string path = (dir / "tiff/good/deflate-last-strip-extra-data.tiff").string();
  Warnings warnings;
  ASSERT_TRUE(LoadTiffFile(path, &warnings, nullptr));
  ASSERT_FALSE(warnings.empty());
  EXPECT_LE(warnings.size(), 5u);
  EXPECT_EQ(warnings[0], "TIFF: Unknown field with tag 33550 (0x830e) encountered: " + path);
  std::sort(warnings.begin(), warnings.end());
  EXPECT_EQ(std::adjacent_find(warnings.begin(), warnings.end()), warnings.end());
}

TEST(TiffDecoder, ReportsProgressStripByStripToTheLastRow) {
  ZAVO_REQUIRE_TESTDATA(dir);
  // 16 rows in strips of 4 rows, through each route.
  const auto path = dir / "tiff/good/itiff_seq-3c-8b-multistrip-8743c999.tiff";
  for (TiffRoute route : {TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
    testing::RecordingProgress progress;
    ASSERT_TRUE(DecodeVia(route, path, nullptr, &progress));
    ASSERT_GE(progress.reports.size(), 2u);
    EXPECT_EQ(progress.reports.back(), std::make_pair(uint64_t{16}, uint64_t{16}));
    EXPECT_TRUE(std::is_sorted(progress.reports.begin(), progress.reports.end()));
  }
}

// --- Threads ----------------------------------------------------------------

// Odd sides and strips or tiles that do not divide them, in every compression
// the threads take, with and without a predictor, gray and colour; then the
// same file with a strip spoilt halfway, which every route refuses and the
// threads refuse with the one-thread message.
TEST(TiffThreads, DecodeTheSamePixelsAsOneThread) {
  testing::TempDir dir;
  const std::vector<std::string> options = {"-c none -r 7",
                                            "-c packbits -r 5",
                                            "-c lzw -r 3",
                                            "-c lzw:2 -r 7",
                                            "-c zip:2 -r 4",
                                            "-c zip -r 61",
                                            "-c none -t -w 32 -l 16",
                                            "-c packbits -t -w 16 -l 32",
                                            "-c lzw:2 -t -w 16 -l 16",
                                            "-c zip -t -w 48 -l 48"};
  const std::string path = dir.File("threads.tif");
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    const Image picture = testing::Noise(37, 61, format);
    ASSERT_TRUE(SaveTiffFile(dir.File("plain.tif"), picture, false, nullptr));
    for (const std::string& option : options) {
      SCOPED_TRACE(option);
      ASSERT_EQ(testing::RunCommand("tiffcp " + option + " '" + dir.File("plain.tif") + "' '" +
                                    path + "'"),
                0);
      const auto one = Outcome(path, 1);
      EXPECT_TRUE(Outcome(path, 3) == one);
      auto image = LoadTiffFile(path, nullptr, nullptr);
      ASSERT_TRUE(image);
      EXPECT_EQ(MaxChannelDifference(ToRgb(*image), ToRgb(picture)), 0);
    }
  }
  ASSERT_TRUE(SaveTiffFile(dir.File("plain.tif"), testing::Noise(40, 90, PixelFormat::Bgr24), false,
                           nullptr));
  ASSERT_EQ(
      testing::RunCommand("tiffcp -c lzw -r 6 '" + dir.File("plain.tif") + "' '" + path + "'"), 0);
  std::vector<uint8_t> bytes = testing::ReadBytes(path);
  std::fill(bytes.begin() + bytes.size() / 2, bytes.begin() + bytes.size() / 2 + 200, 0xFF);
  testing::WriteBytes(path, bytes);
  for (TiffRoute route : {TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
    EXPECT_FALSE(DecodeVia(route, path)) << int(route);
  }
  const auto one = Outcome(path, 1);
  EXPECT_TRUE(one.first.starts_with("TIFF: ")) << one.first;
  EXPECT_TRUE(Outcome(path, 3) == one);
}

// --- Encoder ----------------------------------------------------------------

// Several strips of 64 KiB, odd widths; a resolution only when there is one.
TEST(TiffEncoder, RoundTripsBgrAndGrayWithOddWidths) {
  testing::TempDir dir;
  const std::string path = dir.File("out.tif");
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    for (bool packbits : {false, true}) {
      Image image = testing::Noise(37, 1500, format);
      image.x_pixels_per_metre = packbits ? 3780 : 0;
      image.y_pixels_per_metre = packbits ? 2835 : 0;
      ASSERT_TRUE(SaveTiffFile(path, image, packbits, nullptr));
      TIFF* tif = OpenQuietly(path);
      ASSERT_NE(tif, nullptr);
      uint16_t compression = 0;
      float resolution = 0;
      TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
      EXPECT_EQ(compression, packbits ? COMPRESSION_PACKBITS : COMPRESSION_NONE);
      EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resolution) == 1, packbits);
      TIFFClose(tif);
      auto back = LoadTiffFile(path, nullptr, nullptr);
      ASSERT_TRUE(back) << back.error().message();
      EXPECT_EQ(back->format(), format);
      EXPECT_EQ(testing::Bytes(*back), testing::Bytes(image));
      EXPECT_EQ(back->x_pixels_per_metre, image.x_pixels_per_metre);
      EXPECT_EQ(back->y_pixels_per_metre, image.y_pixels_per_metre);
    }
  }
}

// Our PackBits encoder at the edges of its pieces: runs of 2, 3, 128, 129
// and 130 equal bytes, literals of 128 and 129, a run at the row's end.
TEST(TiffEncoder, PacksEveryRunShapeSoLibtiffReadsItBack) {
  std::vector<uint8_t> row;
  for (size_t run : {2, 3, 128, 129, 130, 1}) row.insert(row.end(), run, uint8_t(run));
  for (size_t i = 0; i < 129; ++i) row.push_back(static_cast<uint8_t>(i * 37));
  for (size_t i = 0; i < 128; ++i) row.push_back(static_cast<uint8_t>(i * 11 + 1));
  row.insert(row.end(), 5, 200);
  Image picture = Image::Create(uint32_t(row.size()), 3, PixelFormat::Gray8, "t").value();
  for (uint32_t y = 0; y < 3; ++y) std::copy(row.begin(), row.end(), picture.row(y));
  picture.row(1)[0] = 9;  // rows differ, and each is packed on its own
  testing::TempDir dir;
  ASSERT_TRUE(SaveTiffFile(dir.File("runs.tif"), picture, true, nullptr));
  auto back = LoadTiffFile(dir.File("runs.tif"), nullptr, nullptr);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(testing::Bytes(*back), testing::Bytes(picture));
}

TEST(TiffEncoder, KeepsTheOldFileAndNoScratchWhenWritingFails) {
  testing::TempDir dir;
  const std::string path = dir.File("out.tif");
  testing::WriteText(path, "the old picture");
  Result<void> saved;
  {
    testing::FileSizeLimit limit(20000);
    saved = SaveTiffFile(path, testing::Noise(200, 200, PixelFormat::Bgr24), false, nullptr);
  }
  testing::ExpectFailure(saved, ErrorKind::Io, "", ": " + path);
  testing::ExpectFailure(SaveTiffFile(path, Image(), false, nullptr), ErrorKind::InvalidValue, "",
                         "");
  EXPECT_EQ(testing::ReadText(path), "the old picture");
  EXPECT_EQ(testing::EntriesIn(dir.path()), 1u);
}

}  // namespace
}  // namespace zavo
