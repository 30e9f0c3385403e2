#include "imaging/tiff_codec.h"

#include <signal.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

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

// DecodeWithImageMagick cannot parse a PPM header that carries a comment, and
// ImageMagick writes the ImageDescription there; those are retried with -strip.
// `before_flatten` goes in before the alpha is removed.
std::optional<RgbPicture> Magick(const std::string& path, const std::string& before_flatten = "") {
  if (before_flatten.empty()) {
    if (auto picture = testing::DecodeWithImageMagick(path)) return picture;
  }
  testing::TempDir dir;
  const std::string ppm = dir.File("reference.ppm");
  const std::string command = "convert '" + path + "[0]' " + before_flatten +
                              " -background white -alpha remove -alpha off -depth 8 -strip '" +
                              ppm + "' 2>/dev/null";
  if (testing::RunCommand(command) != 0) return std::nullopt;
  return testing::DecodeWithImageMagick(ppm);
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

struct CorpusFile {
  fs::path path;
  std::string expected;
};

std::vector<CorpusFile> TiffCorpus(const fs::path& dir, const std::string& folder) {
  std::ifstream list(dir / "expected.tsv");
  std::vector<CorpusFile> files;
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string file, expected;
    std::getline(fields, file, '\t');
    std::getline(fields, expected, '\t');
    if (file.starts_with(folder)) files.push_back({dir / file, expected});
  }
  return files;
}

// Decodes a valid file and holds it against its judge; returns false when it
// was refused as Unsupported instead.
bool DecodesLikeItsJudge(const CorpusFile& file) {
  const std::string name = file.path.filename().string();
  auto image = LoadTiffFile(file.path.string(), nullptr, nullptr);
  if (!image) {
    EXPECT_EQ(image.error().kind(), ErrorKind::Unsupported) << image.error().message();
    return false;
  }
  const Tags tags = ReadTags(file.path.string());
  const bool gray = tags.photometric == PHOTOMETRIC_MINISBLACK ||
                    tags.photometric == PHOTOMETRIC_MINISWHITE ||
                    tags.photometric == PHOTOMETRIC_LOGL;
  EXPECT_EQ(image->format(), gray ? PixelFormat::Gray8 : PixelFormat::Bgr24) << name;
  const Rule rule = RuleFor(name, tags);
  if (rule.judge == Judge::Skip) return true;
  const auto reference = Reference(rule, file.path);
  if (!reference) {
    ADD_FAILURE() << "no reference picture for " << name;
    return true;
  }
  EXPECT_LE(MaxChannelDifference(ToRgb(*image), *reference), rule.tolerance) << name;
  return true;
}

// --- The corpus -------------------------------------------------------------

TEST(TiffCorpus, DecodesEveryValidFileLikeItsJudge) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const auto& file : TiffCorpus(dir, "tiff/good/")) {
    if (file.expected != "decode") continue;
    EXPECT_TRUE(DecodesLikeItsJudge(file)) << file.path;
  }
}

TEST(TiffCorpus, DecodesALongThinFax) {
  ZAVO_REQUIRE_TESTDATA(dir);
  auto image = LoadTiffFile((dir / "tiff/good/itiff_big_g4.tif").string(), nullptr, nullptr);
  ASSERT_TRUE(image) << image.error().message();
  EXPECT_EQ(image->width() * uint64_t{image->height()}, 65537u);
}

TEST(TiffCorpus, DecodesRareVariantsOrCallsThemUnsupported) {
  ZAVO_REQUIRE_TESTDATA(dir);
  int decoded = 0, variants = 0;
  for (const auto& file : TiffCorpus(dir, "tiff/good/")) {
    if (file.expected != "decode-or-unsupported") continue;
    ++variants;
    decoded += DecodesLikeItsJudge(file);
  }
  EXPECT_EQ(decoded, variants);  // all 68 today: deeper samples, floats, 16-bit CMYK...
}

// Every route, not only the one the file would take, meets the hostile input.
TEST(TiffCorpus, RefusesOrDecodesDamagedFilesWithoutHarm) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const auto& file : TiffCorpus(dir, "tiff/bad/")) {
    const auto bytes = testing::ReadBytes(file.path.string());
    for (TiffRoute route :
         {TiffRoute::Best, TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
      auto image = DecodeTiffVia(route, bytes, file.path.string(), nullptr, nullptr);
      if (image) {
        EXPECT_GT(image->width() * image->height(), 0u);
      } else {
        EXPECT_TRUE(image.error().message().starts_with("TIFF: ")) << image.error().message();
        EXPECT_NE(image.error().message().find(file.path.string()), std::string::npos);
      }
    }
  }
}

// --- Routes -----------------------------------------------------------------

Result<Image> DecodeVia(TiffRoute route, const fs::path& path) {
  const auto bytes = testing::ReadBytes(path.string());
  return DecodeTiffVia(route, bytes, path.string(), nullptr, nullptr);
}

TEST(TiffRoutes, FastAndRgbaRoutesGiveIdenticalPixels) {
  ZAVO_REQUIRE_TESTDATA(dir);
  int compared = 0;
  for (const auto& file : TiffCorpus(dir, "tiff/good/")) {
    auto fast = DecodeVia(TiffRoute::Fast, file.path);
    if (!fast) continue;
    auto rgba = DecodeVia(TiffRoute::Rgba, file.path);
    ASSERT_TRUE(rgba) << rgba.error().message();
    EXPECT_EQ(MaxChannelDifference(ToRgb(*fast), ToRgb(*rgba)), 0) << file.path;
    ++compared;
  }
  EXPECT_GE(compared, 30);  // none, PackBits, LZW, Deflate, JPEG; gray, RGB, RGBA
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

TEST(TiffDecoder, MapsSignedSamplesOntoTheUnsignedScale) {
  testing::TempDir dir;
  const std::string path = dir.File("signed.tif");
  // -128, -1, 0 and 127 as signed bytes.
  WriteTiff(path, [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT); },
            {{0x80}, {0xff}, {0x00}, {0x7f}});
  auto image = LoadTiffFile(path, nullptr, nullptr);
  ASSERT_TRUE(image) << image.error().message();
  EXPECT_EQ(ToRgb(*image).rgb,
            std::vector<uint8_t>({0, 0, 0, 127, 127, 127, 128, 128, 128, 255, 255, 255}));
}

TEST(TiffDecoder, IgnoresUnspecifiedExtraSamples) {
  ZAVO_REQUIRE_TESTDATA(dir);
  // Samples 0 with an extra sample of 1: black, not almost transparent.
  for (const char* name : {"itiff_extra_bits_gray_8b.tiff", "itiff_extra_bits_rgb_8b.tiff"}) {
    auto image = LoadTiffFile((dir / "tiff/good" / name).string(), nullptr, nullptr);
    ASSERT_TRUE(image) << name;
    const auto rgb = ToRgb(*image).rgb;
    EXPECT_TRUE(std::all_of(rgb.begin(), rgb.end(), [](uint8_t v) { return v == 0; })) << name;
  }
}

TEST(TiffDecoder, CompositesAlphaOntoWhite) {
  testing::TempDir dir;
  // Red 200, green 100, blue 0 at alpha 128, stored straight and premultiplied;
  // then a fully transparent black pixel.
  const std::vector<std::pair<uint16_t, std::vector<std::vector<uint8_t>>>> files = {
      {EXTRASAMPLE_UNASSALPHA, {{200, 100, 0, 128}, {0, 0, 0, 0}}},
      {EXTRASAMPLE_ASSOCALPHA, {{100, 50, 0, 128}, {0, 0, 0, 0}}}};
  for (const auto& [kind, rows] : files) {
    const std::string path = dir.File("alpha.tif");
    WriteTiff(
        path,
        [kind](TIFF* tif) {
          const uint16_t extra[] = {kind};
          TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
          TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
          TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        },
        rows);
    for (TiffRoute route : {TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
      auto image = DecodeVia(route, path);
      ASSERT_TRUE(image) << image.error().message();
      // 200 * 128/255 + 127, 100 * 128/255 + 127, 0 + 127; then white.
      EXPECT_EQ(ToRgb(*image).rgb, std::vector<uint8_t>({227, 177, 127, 255, 255, 255}))
          << "extra sample kind " << kind << ", route " << static_cast<int>(route);
    }
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

TEST(TiffDecoder, NamesTheVariantItDoesNotRead) {
  testing::TempDir dir;
  const std::string path = dir.File("a.tif");
  WriteTiff(path,
            [](TIFF* tif) {
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 24);
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
            },
            {{0, 0, 0}});
  auto image = LoadTiffFile(path, nullptr, nullptr);
  ASSERT_FALSE(image);
  EXPECT_EQ(image.error().kind(), ErrorKind::Unsupported);
  EXPECT_EQ(image.error().message(),
            "TIFF: 24-bit floating-point samples are not supported: " + path);
}

TEST(TiffDecoder, RefusesSizesBeyondTheLimitsBeforeAllocating) {
  // 2000000 x 1 gray: one side beyond the limit.
  auto wide = TinyTiff({{TIFFTAG_IMAGEWIDTH, 2000000},
                        {TIFFTAG_IMAGELENGTH, 1},
                        {TIFFTAG_STRIPOFFSETS, 0},
                        {TIFFTAG_STRIPBYTECOUNTS, 70000}},
                       {0});
  auto image = DecodeTiff(wide, "wide.tif", nullptr, nullptr);
  ASSERT_FALSE(image);
  EXPECT_EQ(image.error().kind(), ErrorKind::TooLarge);
  // 60000 x 4000 gray from four bytes of LZW: far more than the file can hold.
  auto bomb = TinyTiff({{TIFFTAG_IMAGEWIDTH, 60000},
                        {TIFFTAG_IMAGELENGTH, 4000},
                        {TIFFTAG_COMPRESSION, COMPRESSION_LZW},
                        {TIFFTAG_STRIPOFFSETS, 0},
                        {TIFFTAG_ROWSPERSTRIP, 4000},
                        {TIFFTAG_STRIPBYTECOUNTS, 4}},
                       {0x80, 0x00, 0x00, 0x00});
  image = DecodeTiff(bomb, "bomb.tif", nullptr, nullptr);
  ASSERT_FALSE(image);
  EXPECT_EQ(image.error().kind(), ErrorKind::Malformed);
  EXPECT_TRUE(image.error().message().ends_with(": bomb.tif")) << image.error().message();
}

TEST(TiffDecoder, FailsOnAStripCutShortAndOnNonTiffData) {
  // 4 x 4 gray claiming 16 bytes of pixels where the file holds 8.
  auto cut = TinyTiff({{TIFFTAG_IMAGEWIDTH, 4},
                       {TIFFTAG_IMAGELENGTH, 4},
                       {TIFFTAG_BITSPERSAMPLE, 8},
                       {TIFFTAG_STRIPOFFSETS, 0},
                       {TIFFTAG_ROWSPERSTRIP, 4},
                       {TIFFTAG_STRIPBYTECOUNTS, 16}},
                      std::vector<uint8_t>(8, 0x55));
  auto image = DecodeTiff(cut, "cut.tif", nullptr, nullptr);
  ASSERT_FALSE(image);
  EXPECT_EQ(image.error().kind(), ErrorKind::Truncated) << image.error().message();
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', '!', '!', '!'};
  for (const auto& data : {std::vector<uint8_t>{}, text}) {
    image = DecodeTiff(data, "text.tif", nullptr, nullptr);
    ASSERT_FALSE(image);
    EXPECT_TRUE(image.error().message().starts_with("TIFF: ")) << image.error().message();
    EXPECT_TRUE(image.error().message().ends_with(": text.tif")) << image.error().message();
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

class RecordedProgress : public Progress {
 public:
  void Advance(uint64_t done, uint64_t total) override { reports.emplace_back(done, total); }
  std::vector<std::pair<uint64_t, uint64_t>> reports;
};

TEST(TiffDecoder, ReportsProgressStripByStripToTheLastRow) {
  ZAVO_REQUIRE_TESTDATA(dir);
  // 16 rows in strips of 4 rows, through each route.
  const auto path = dir / "tiff/good/itiff_seq-3c-8b-multistrip-8743c999.tiff";
  for (TiffRoute route : {TiffRoute::Fast, TiffRoute::Rgba, TiffRoute::Samples}) {
    RecordedProgress progress;
    const auto bytes = testing::ReadBytes(path.string());
    ASSERT_TRUE(DecodeTiffVia(route, bytes, "seq.tif", nullptr, &progress));
    ASSERT_GE(progress.reports.size(), 2u);
    EXPECT_EQ(progress.reports.back(), std::make_pair(uint64_t{16}, uint64_t{16}));
    EXPECT_TRUE(std::is_sorted(progress.reports.begin(), progress.reports.end()));
  }
}

// --- Threads ----------------------------------------------------------------

// A picture no codec finds easy: every byte differs from its neighbours.
Image Noise(uint32_t width, uint32_t height, PixelFormat format) {
  auto image = Image::Create(width, height, format, "test");
  uint32_t state = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width * BytesPerPixel(format); ++x) {
      state = state * 1103515245 + 12345;
      image->row(y)[x] = static_cast<uint8_t>((state >> 16) % 64 + x % 192);
    }
  }
  return std::move(image.value());
}

Result<Image> LoadWithThreads(unsigned threads, const std::string& path) {
  ScopedThreadCount count(threads);
  return LoadTiffFile(path, nullptr, nullptr);
}

bool SameBytes(const Image& a, const Image& b) {
  return a.format() == b.format() && a.size_bytes() == b.size_bytes() &&
         std::equal(a.data(), a.data() + a.size_bytes(), b.data());
}

// Odd sides and strips or tiles that do not divide them, in every
// compression the threads take, with and without a predictor, gray and colour.
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
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    const Image picture = Noise(37, 61, format);
    ASSERT_TRUE(SaveTiffFile(dir.File("plain.tif"), picture, false, nullptr));
    for (const std::string& option : options) {
      SCOPED_TRACE(option);
      const std::string path = dir.File("threads.tif");
      ASSERT_EQ(testing::RunCommand("tiffcp " + option + " '" + dir.File("plain.tif") + "' '" +
                                    path + "'"),
                0);
      auto one = LoadWithThreads(1, path);
      auto three = LoadWithThreads(3, path);
      ASSERT_TRUE(one && three);
      EXPECT_TRUE(SameBytes(*one, *three));
      EXPECT_EQ(MaxChannelDifference(ToRgb(*three), ToRgb(picture)), 0);
    }
  }
}

// Good and hostile files alike: the same pixels, or the same failure, and
// the same warnings, however many threads there are.
TEST(TiffThreads, ReadEveryCorpusFileAsOneThreadDoes) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const char* folder : {"tiff/good/", "tiff/bad/"}) {
    for (const auto& file : TiffCorpus(dir, folder)) {
      const auto bytes = testing::ReadBytes(file.path.string());
      std::vector<Result<Image>> images;
      std::vector<Warnings> warnings(2);
      for (unsigned threads : {1u, 3u}) {
        ScopedThreadCount count(threads);
        images.push_back(DecodeTiff(bytes, "t.tif", &warnings[images.size()], nullptr));
      }
      ASSERT_EQ(bool(images[0]), bool(images[1])) << file.path;
      if (images[0]) {
        EXPECT_TRUE(SameBytes(*images[0], *images[1])) << file.path;
      } else {
        EXPECT_EQ(images[0].error().message(), images[1].error().message());
      }
      EXPECT_EQ(warnings[0], warnings[1]) << file.path;
    }
  }
}

// A strip cut short halfway through the file: the threads give up and the
// one-thread decoder says what it always said.
TEST(TiffThreads, FailADamagedFileWithTheOneThreadMessage) {
  testing::TempDir dir;
  ASSERT_TRUE(
      SaveTiffFile(dir.File("plain.tif"), Noise(40, 90, PixelFormat::Bgr24), false, nullptr));
  const std::string path = dir.File("cut.tif");
  ASSERT_EQ(
      testing::RunCommand("tiffcp -c lzw -r 6 '" + dir.File("plain.tif") + "' '" + path + "'"), 0);
  std::vector<uint8_t> bytes = testing::ReadBytes(path);
  std::fill(bytes.begin() + bytes.size() / 2, bytes.begin() + bytes.size() / 2 + 200, 0xFF);
  std::vector<std::string> messages;
  for (unsigned threads : {1u, 3u}) {
    ScopedThreadCount count(threads);
    auto image = DecodeTiff(bytes, "cut.tif", nullptr, nullptr);
    ASSERT_FALSE(image);
    messages.push_back(image.error().message());
  }
  EXPECT_EQ(messages[0], messages[1]);
}

// --- Encoder ----------------------------------------------------------------

Image Gradient(uint32_t width, uint32_t height, PixelFormat format) {
  auto image = Image::Create(width, height, format, "test");
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width * BytesPerPixel(format); ++x) {
      image->row(y)[x] = static_cast<uint8_t>(x * 7 + y * 13 + (x % 3) * 50);
    }
  }
  return std::move(image.value());
}

uint16_t CompressionTag(const std::string& path) {
  uint16_t compression = 0;
  TIFF* tif = OpenQuietly(path);
  if (tif == nullptr) return 0;
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFClose(tif);
  return compression;
}

TEST(TiffEncoder, RoundTripsBgrAndGrayWithOddWidths) {
  testing::TempDir dir;
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    for (bool packbits : {false, true}) {
      Image image = Gradient(37, 1500, format);  // several strips of 64 KiB
      image.x_pixels_per_metre = 3780;
      image.y_pixels_per_metre = 2835;
      const std::string path = dir.File("out.tif");
      ASSERT_TRUE(SaveTiffFile(path, image, packbits, nullptr));
      EXPECT_EQ(CompressionTag(path), packbits ? COMPRESSION_PACKBITS : COMPRESSION_NONE);
      auto back = LoadTiffFile(path, nullptr, nullptr);
      ASSERT_TRUE(back) << back.error().message();
      EXPECT_EQ(back->format(), format);
      EXPECT_EQ(MaxChannelDifference(ToRgb(*back), ToRgb(image)), 0);
      EXPECT_EQ(back->x_pixels_per_metre, 3780u);
      EXPECT_EQ(back->y_pixels_per_metre, 2835u);
    }
  }
}

// Our PackBits encoder at the edges of its pieces: runs of 2, 3, 128, 129
// and 130 equal bytes, literals of 128 and 129, a run at the row's end.
TEST(TiffEncoder, PacksEveryRunShapeSoLibtiffReadsItBack) {
  std::vector<uint8_t> row;
  auto append = [&](size_t count, uint8_t value) { row.insert(row.end(), count, value); };
  for (size_t run : {2, 3, 128, 129, 130, 1}) append(run, static_cast<uint8_t>(run));
  for (size_t i = 0; i < 129; ++i) row.push_back(static_cast<uint8_t>(i * 37));
  for (size_t i = 0; i < 128; ++i) row.push_back(static_cast<uint8_t>(i * 11 + 1));
  append(5, 200);
  Image picture =
      Image::Create(static_cast<uint32_t>(row.size()), 3, PixelFormat::Gray8, "t").value();
  for (uint32_t y = 0; y < 3; ++y) std::copy(row.begin(), row.end(), picture.row(y));
  picture.row(1)[0] = 9;  // rows differ, and each is packed on its own
  testing::TempDir dir;
  ASSERT_TRUE(SaveTiffFile(dir.File("runs.tif"), picture, true, nullptr));
  auto back = LoadTiffFile(dir.File("runs.tif"), nullptr, nullptr);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(MaxChannelDifference(ToRgb(*back), ToRgb(picture)), 0);
}

TEST(TiffEncoder, OmitsAnUnknownResolution) {
  testing::TempDir dir;
  const std::string path = dir.File("out.tif");
  ASSERT_TRUE(SaveTiffFile(path, Gradient(3, 3, PixelFormat::Gray8), true, nullptr));
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  float resolution = 0;
  EXPECT_FALSE(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resolution));
  TIFFClose(tif);
}

// Lets this process write files of at most `bytes`, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

TEST(TiffEncoder, KeepsTheOldFileAndNoScratchWhenWritingFails) {
  testing::TempDir dir;
  const std::string path = dir.File("out.tif");
  testing::WriteText(path, "the old picture");
  Result<void> saved;
  {
    FileSizeLimit limit(20000);
    saved = SaveTiffFile(path, Gradient(200, 200, PixelFormat::Bgr24), false, nullptr);
  }
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind(), ErrorKind::Io);
  EXPECT_TRUE(saved.error().message().ends_with(": " + path)) << saved.error().message();
  EXPECT_EQ(testing::ReadText(path), "the old picture");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(TiffEncoder, RefusesAPictureWithoutPixels) {
  testing::TempDir dir;
  const std::string path = dir.File("out.tif");
  auto saved = SaveTiffFile(path, Image(), false, nullptr);
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind(), ErrorKind::InvalidValue);
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace zavo
