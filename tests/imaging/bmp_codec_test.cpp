#include "imaging/bmp_codec.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;
using testing::DecodeWithImageMagick;
using testing::MaxChannelDifference;
using testing::RgbPicture;
using testing::ToRgb;

// ---------------------------------------------------------------------------
// Hand-made files

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The info header fields a test varies; the rest are zero.
struct Info {
  uint32_t header_size = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t planes = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t colours_used = 0;
  int32_t x_ppm = 0;
  int32_t y_ppm = 0;
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha: inside headers of 52 bytes and up
};

// File header, info header, then `tables` (masks after a 40-byte header, the
// palette) and `pixels`, with the offsets and sizes filled in.
std::vector<uint8_t> MakeBmp(const Info& info, const std::vector<uint8_t>& tables,
                             const std::vector<uint8_t>& pixels) {
  const uint32_t offset = 14 + info.header_size + static_cast<uint32_t>(tables.size());
  std::vector<uint8_t> out{'B', 'M'};
  Put(out, offset + static_cast<uint32_t>(pixels.size()), 4);
  Put(out, 0, 4);
  Put(out, offset, 4);
  Put(out, info.header_size, 4);
  Put(out, static_cast<uint32_t>(info.width), 4);
  Put(out, static_cast<uint32_t>(info.height), 4);
  Put(out, info.planes, 2);
  Put(out, info.bits, 2);
  Put(out, info.compression, 4);
  Put(out, static_cast<uint32_t>(pixels.size()), 4);
  Put(out, static_cast<uint32_t>(info.x_ppm), 4);
  Put(out, static_cast<uint32_t>(info.y_ppm), 4);
  Put(out, info.colours_used, 4);
  Put(out, 0, 4);
  for (size_t i = 0; out.size() < 14 + info.header_size; ++i) {
    Put(out, i < 4 ? info.masks[i] : 0, 4);
  }
  out.insert(out.end(), tables.begin(), tables.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// Palette entries are blue, green, red, 0.
std::vector<uint8_t> Palette(std::initializer_list<uint32_t> rgb) {
  std::vector<uint8_t> out;
  for (uint32_t colour : rgb) Put(out, colour, 4);
  return out;
}

Result<Image> Decode(const std::vector<uint8_t>& file, Warnings* warnings = nullptr) {
  return DecodeBmp(file, "t.bmp", warnings);
}

// The top-down RGB of a decoded picture, as 0xRRGGBB per pixel.
std::vector<uint32_t> Pixels(const Image& image) {
  const RgbPicture rgb = ToRgb(image);
  std::vector<uint32_t> out;
  for (size_t i = 0; i < rgb.rgb.size(); i += 3) {
    out.push_back(uint32_t{rgb.rgb[i]} << 16 | uint32_t{rgb.rgb[i + 1]} << 8 | rgb.rgb[i + 2]);
  }
  return out;
}

void ExpectError(const Result<Image>& result, ErrorKind kind, const std::string& words) {
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), kind) << result.error().message();
  EXPECT_NE(result.error().message().find(words), std::string::npos) << result.error().message();
  EXPECT_EQ(result.error().message().rfind("BMP: ", 0), 0u) << result.error().message();
}

// ---------------------------------------------------------------------------
// The shared test images

std::map<std::string, std::string> ExpectedOutcomes(const fs::path& dir) {
  std::map<std::string, std::string> expected;
  std::ifstream in(dir / "expected.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string file, outcome;
    if (std::getline(fields, file, '\t') && std::getline(fields, outcome, '\t')) {
      expected[file] = outcome;
    }
  }
  return expected;
}

std::vector<fs::path> BmpFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Renderings the suite shares between files; every other file is drawn in
// reference/<its name>.png, when the suite has a rendering of it at all.
// Skipped run-length pixels count as transparent, so the transparent
// renderings (pal4rlecut.png and the like) are the ones to match once laid
// over white. pal8nonsquare is compared unstretched, as an editor shows it.
const std::map<std::string, std::vector<std::string>> kSharedRenderings = {
    {"pal1.png", {"pal1wb"}},
    {"pal4.png", {"pal4rle"}},
    {"pal8.png",
     {"pal8-0", "pal8os2", "pal8rle", "pal8topdown", "pal8v4", "pal8v5", "pal8offs", "pal8os2-hs",
      "pal8os2-sz", "pal8os2sp", "pal8os2v2", "pal8os2v2-16", "pal8os2v2-40sz", "pal8os2v2-sz"}},
    {"pal8nonsquare-e.png", {"pal8nonsquare"}},
    {"rgb16-565.png", {"rgb16-565pal"}},
    {"rgb16.png", {"rgb16bfdef", "rgb16faketrns"}},
    {"rgb24.png",
     {"rgb24pal", "rgb32", "rgb32bf", "rgb32bfdef", "rgb24largepal", "rgb24lprof", "rgb24prof",
      "rgb32-111110", "rgb32-xbgr", "rgb32fakealpha", "rgb32h52"}},
    {"rgba32.png", {"rgba32-1", "rgba32-2", "rgba32abf", "rgba32h56"}},
};

std::optional<fs::path> Reference(const fs::path& dir, const fs::path& file) {
  const std::string stem = file.stem().string();
  for (const auto& [rendering, files] : kSharedRenderings) {
    if (std::find(files.begin(), files.end(), stem) != files.end()) {
      return dir / "bmp/reference" / rendering;
    }
  }
  const fs::path own = dir / "bmp/reference" / (stem + ".png");
  return fs::exists(own) ? std::optional(own) : std::nullopt;
}

// The good files without a rendering (the libjpeg-turbo and Pillow samples)
// are compared with what ImageMagick makes of them. Exact, except that
// ImageMagick truncates where it lays alpha over white (pil_rgb32bf-rgba) and
// we round: 1 level apart.
TEST(BmpSuite, GoodFilesMatchTheirRenderings) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const fs::path& path : BmpFiles(dir / "bmp/good")) {
    SCOPED_TRACE(path.filename().string());
    Warnings warnings;
    const auto image = LoadBmpFile(path.string(), &warnings, nullptr);
    ASSERT_TRUE(image.ok()) << image.error().message();
    EXPECT_TRUE(warnings.empty());
    const auto expected = DecodeWithImageMagick(Reference(dir, path).value_or(path).string());
    ASSERT_TRUE(expected.has_value());
    const int tolerance = path.filename() == "pil_rgb32bf-rgba.bmp" ? 1 : 0;
    EXPECT_LE(MaxChannelDifference(ToRgb(image.value()), *expected), tolerance);
  }
}

// Where the suite renders a questionable file, we decode it and match within
// 1 level: its renderings truncate channels wider than 8 bits (rgb32-111110,
// rgb32-7187, rgba32-61754, rgba32-81284) where we round. rgb24prof2 has no
// rendering of its own: it swaps red and green and relies on its colour
// profile to swap them back, and profiles are ignored.
TEST(BmpSuite, QuestionableFilesDecodeOrSayWhy) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const fs::path& path : BmpFiles(dir / "bmp/questionable")) {
    SCOPED_TRACE(path.filename().string());
    const auto image = LoadBmpFile(path.string(), nullptr, nullptr);
    const auto reference = Reference(dir, path);
    if (!image.ok()) {
      EXPECT_NE(image.error().message().find(path.string()), std::string::npos);
      EXPECT_FALSE(reference.has_value()) << image.error().message();
    } else if (reference) {
      const auto expected = DecodeWithImageMagick(reference->string());
      ASSERT_TRUE(expected.has_value());
      EXPECT_LE(MaxChannelDifference(ToRgb(image.value()), *expected), 1);
    }
  }
}

// `reject` files must fail with a message naming the file; `either` files may
// do anything but crash or overrun (the ASan build checks that).
TEST(BmpSuite, BadFilesAreRefusedUnlessEitherOutcomeIsAllowed) {
  ZAVO_REQUIRE_TESTDATA(dir);
  const auto expected = ExpectedOutcomes(dir);
  for (const fs::path& path : BmpFiles(dir / "bmp/bad")) {
    const std::string key = "bmp/bad/" + path.filename().string();
    SCOPED_TRACE(key);
    ASSERT_EQ(expected.count(key), 1u);
    const auto image = LoadBmpFile(path.string(), nullptr, nullptr);
    if (expected.at(key) == "reject") {
      ASSERT_FALSE(image.ok());
    }
    if (!image.ok()) {
      EXPECT_NE(image.error().message().find(path.string()), std::string::npos);
    }
  }
}

// ---------------------------------------------------------------------------
// Header versions and pixel formats

TEST(BmpReader, ReadsOs2CoreHeaderWithThreeBytePaletteEntries) {
  // clang-format off
  const std::vector<uint8_t> file = {
      'B', 'M', 36, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0,  // file header: 36 bytes, pixels at 32
      12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 1, 0,             // 12-byte header: 2 x 1, 1 plane, 1 bit
      0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00,              // palette (BGR): red, blue
      0x40, 0, 0, 0,                                   // indices 0, 1 from the top bit; padding
  };
  // clang-format on
  const auto image = Decode(file);
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0xFF0000, 0x0000FF}));
}

TEST(BmpReader, LaysV5AlphaOverWhite) {
  Info info{.header_size = 124, .width = 3, .bits = 32, .compression = 3};
  info.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  const auto image = Decode(MakeBmp(info, {},
                                    {
                                        0x00, 0x00, 0xFF, 0xFF,  // opaque red
                                        0x00, 0x00, 0x00, 0x80,  // half-transparent black
                                        0x00, 0xFF, 0x00, 0x00,  // transparent green
                                    }));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0xFF0000, 0x7F7F7F, 0xFFFFFF}));
}

TEST(BmpReader, ScalesBitfieldsOfOddWidthsToFullRange) {
  // 16 bits: red 2 bits, green 3 bits, blue 1 bit (masks after the 40-byte header).
  Info info{.width = 3, .bits = 16, .compression = 3};
  auto image = Decode(
      MakeBmp(info, Palette({0xC000, 0x3800, 0x0400}), {0x00, 0xFC, 0x00, 0x40, 0x00, 0x10, 0, 0}));
  ASSERT_TRUE(image.ok()) << image.error().message();
  // all set -> white; red 1 of 3 -> 85; green 2 of 7 -> 72.9 rounds to 73
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0xFFFFFF, 0x550000, 0x004900}));

  // 32 bits, BI_ALPHABITFIELDS: 10-bit colours, 2-bit alpha, four masks.
  info = {.width = 1, .bits = 32, .compression = 6};
  image = Decode(MakeBmp(info, Palette({0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}),
                         {0x00, 0x00, 0x00, 0xE0}));  // alpha 3 (opaque), red 512 of 1023
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), std::vector<uint32_t>{0x800000});
}

TEST(BmpReader, DefaultMasksIgnoreTheUnusedBits) {
  // 16 bits default to 5-5-5 with the top bit unused; 32 bits to 8-8-8 with
  // the fourth byte unused, as Windows reads them.
  auto image = Decode(MakeBmp({.width = 2, .bits = 16}, {}, {0xFF, 0xFF, 0x00, 0xFC}));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0xFFFFFF, 0xFF0000}));
  image = Decode(
      MakeBmp({.width = 2, .bits = 32}, {}, {0x10, 0x20, 0x30, 0x00, 0x10, 0x20, 0x30, 0x80}));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0x302010, 0x302010}));
}

TEST(BmpReader, ReadsNegativeHeightAsTopDown) {
  const auto image = Decode(MakeBmp({.height = -2}, {},
                                    {
                                        0xFF, 0, 0, 0,  // first row: blue
                                        0, 0, 0xFF, 0,  // second row: red
                                    }));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0x0000FF, 0xFF0000}));
}

TEST(BmpReader, CopiesResolutionAndZeroesNegativeValues) {
  const auto image = Decode(MakeBmp({.x_ppm = 2835, .y_ppm = -5}, {}, {0, 0, 0, 0}));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(image.value().x_pixels_per_metre, 2835u);
  EXPECT_EQ(image.value().y_pixels_per_metre, 0u);
}

// ---------------------------------------------------------------------------
// Palettes

TEST(BmpReader, ReturnsGrayOnlyWhenEveryUsedEntryIsGray) {
  const auto palette = Palette({0x808080, 0xFF0000});  // gray, red
  auto image = Decode(MakeBmp({.bits = 8, .colours_used = 2}, palette, {0, 0, 0, 0}));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(image.value().format(), PixelFormat::Gray8);  // the red entry is never used
  EXPECT_EQ(image.value().data()[0], 0x80);
  image = Decode(MakeBmp({.bits = 8, .colours_used = 2}, palette, {1, 0, 0, 0}));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(image.value().format(), PixelFormat::Bgr24);
  EXPECT_EQ(Pixels(image.value()), std::vector<uint32_t>{0xFF0000});
}

TEST(BmpReader, AcceptsShortPaletteButRefusesIndicesBeyondIt) {
  const auto palette = Palette({0x000000, 0x0000FF});  // 2 entries for 4-bit pixels
  auto image =
      Decode(MakeBmp({.width = 2, .bits = 4, .colours_used = 2}, palette, {0x10, 0, 0, 0}));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0x0000FF, 0x000000}));
  image = Decode(MakeBmp({.width = 2, .bits = 4, .colours_used = 2}, palette, {0x12, 0, 0, 0}));
  ExpectError(image, ErrorKind::Malformed, "palette entry 2 but the palette has 2 entries");
}

// ---------------------------------------------------------------------------
// Run-length data. Skipped pixels count as transparent: white, like alpha.

const std::vector<uint8_t> kRlePalette = Palette({0x000000, 0xFF0000, 0x00FF00});

TEST(BmpReader, DecodesRle8RunsDeltasAndAbsoluteRuns) {
  const std::vector<uint8_t> rle = {
      0x02, 0x01,                    // bottom row: two of colour 1
      0x00, 0x02, 0x01, 0x01,        // delta: one right, one up, to (3, 1)
      0x01, 0x02,                    // one of colour 2
      0x00, 0x00,                    // end of line: to (0, 2)
      0x00, 0x03, 0x02, 0x01, 0x02,  // absolute run of 3: 2, 1, 2 ...
      0x00,                          // ... padded to an even length
      0x00, 0x01,                    // end of bitmap
  };
  const auto image =
      Decode(MakeBmp({.width = 4, .height = 3, .bits = 8, .compression = 1}, kRlePalette, rle));
  ASSERT_TRUE(image.ok()) << image.error().message();
  constexpr uint32_t W = 0xFFFFFF, R = 0xFF0000, G = 0x00FF00;
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{G, R, G, W,  //
                                                          W, W, W, G,  //
                                                          R, R, W, W}));
}

TEST(BmpReader, DecodesRle4AndWarnsWhenTheDataEndsEarly) {
  const auto gray = Palette({0x000000, 0xFFFFFF, 0x808080});
  const std::vector<uint8_t> rle = {
      0x03, 0x12,              // run of 3 alternating nibbles: 1, 2, 1
      0x00, 0x00,              // end of line
      0x00, 0x03, 0x21, 0x20,  // absolute run of 3 nibbles: 2, 1, 2
  };                           // no end-of-bitmap mark: the data simply stops
  Warnings warnings;
  const auto image =
      Decode(MakeBmp({.width = 3, .height = 3, .bits = 4, .compression = 2}, gray, rle), &warnings);
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(image.value().format(), PixelFormat::Gray8);
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0xFFFFFF, 0xFFFFFF, 0xFFFFFF,  //
                                                          0x808080, 0xFFFFFF, 0x808080,  //
                                                          0xFFFFFF, 0x808080, 0xFFFFFF}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("ends early"), std::string::npos);
}

TEST(BmpReader, DropsRunsPastTheRowEndInsteadOfWrapping) {
  const std::vector<uint8_t> rle = {
      0xFF, 0x01,              // 255 pixels into a row of 2
      0x00, 0x02, 0xFF, 0x00,  // delta far right
      0x00, 0x00, 0x01, 0x02,  // next row: one of colour 2
      0x00, 0x02, 0x00, 0xFF,  // delta far above the picture
      0x01, 0x01,              // never drawn
  };
  const auto image =
      Decode(MakeBmp({.width = 2, .height = 2, .bits = 8, .compression = 1}, kRlePalette, rle));
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(Pixels(image.value()), (std::vector<uint32_t>{0x00FF00, 0xFFFFFF,  //
                                                          0xFF0000, 0xFF0000}));
}

TEST(BmpReader, SurvivesEveryCutOfARunLengthFile) {
  auto file = MakeBmp({.width = 4, .height = 3, .bits = 8, .compression = 1}, kRlePalette,
                      {0x02, 0x01, 0x00, 0x02, 0x01, 0x01, 0x00, 0x03, 0x02, 0x01, 0x02, 0x00});
  std::fill(file.begin() + 2, file.begin() + 6, 0);  // no file size, so cuts are not caught early
  for (size_t size = 0; size < file.size(); ++size) {
    const std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(size));
    const auto image = Decode(cut);
    if (!image.ok()) {
      EXPECT_FALSE(image.error().message().empty());
    }
  }
}

// ---------------------------------------------------------------------------
// Refusals: each names the format, the defect and the file

TEST(BmpReader, RefusesEmbeddedJpegPngAndOtherVariantsItDoesNotRead) {
  ExpectError(Decode(MakeBmp({.header_size = 124, .bits = 0, .compression = 4}, {}, {0xFF, 0xD8})),
              ErrorKind::Unsupported, "embedded JPEG");
  ExpectError(Decode(MakeBmp({.header_size = 124, .bits = 0, .compression = 5}, {}, {0x89, 'P'})),
              ErrorKind::Unsupported, "embedded PNG");
  ExpectError(Decode(MakeBmp({.bits = 64}, {}, std::vector<uint8_t>(8))), ErrorKind::Unsupported,
              "64 bits per pixel");
  // In a 64-byte OS/2 header, codes 3 and 4 mean Huffman 1D and RLE24.
  ExpectError(Decode(MakeBmp({.header_size = 64, .bits = 1, .compression = 3}, {}, {0, 0, 0, 0})),
              ErrorKind::Unsupported, "Huffman");
  ExpectError(Decode(MakeBmp({.header_size = 64, .compression = 4}, {}, {0, 0, 0, 0})),
              ErrorKind::Unsupported, "RLE24");
  auto array = MakeBmp({}, {}, {0, 0, 0, 0});
  array[1] = 'A';  // an OS/2 bitmap array
  ExpectError(Decode(array), ErrorKind::Unsupported, "bitmap array");
}

TEST(BmpReader, RefusesHugeDimensionsBeforeAllocating) {
  const auto image = Decode(MakeBmp({.width = 70000, .height = 70000}, {}, {}));
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::TooLarge);
  EXPECT_EQ(image.error().message(),
            "BMP: header claims 70000 x 70000 pixels (limit 1048576 per side, 268435456 in all): "
            "t.bmp");
  // Within the limits, but the file holds none of the 805 MB the header implies.
  ExpectError(Decode(MakeBmp({.width = 16384, .height = 16384}, {}, {})), ErrorKind::Truncated,
              "pixel data needs 805306368 bytes but the file has 0");
}

TEST(BmpReader, RefusesInt32MinHeight) {
  ExpectError(Decode(MakeBmp({.height = INT32_MIN}, {}, {0, 0, 0, 0})), ErrorKind::Malformed,
              "height -2147483648");
}

TEST(BmpReader, RefusesHeaderClaimingMoreBytesThanTheFileHas) {
  ExpectError(Decode(MakeBmp({.width = 4, .height = 4}, {}, std::vector<uint8_t>(12))),
              ErrorKind::Truncated, "pixel data needs 48 bytes but the file has 12");
  auto file = MakeBmp({}, {}, {0, 0, 0, 0});
  file[2] += 1;  // the file header says one byte more than there is
  ExpectError(Decode(file), ErrorKind::Truncated, "cut short");
}

TEST(BmpReader, RefusesBrokenHeaderFields) {
  const std::pair<const char*, Info> cases[] = {
      {"plane count is 0", {.planes = 0}},
      {"width 0", {.width = 0}},
      {"width -1", {.width = -1}},
      {"height 0", {.height = 0}},
      {"3 bits per pixel", {.bits = 3}},
      {"header size 66", {.header_size = 66}},
      {"compression does not fit", {.bits = 4, .compression = 1}},
      {"top-down", {.height = -1, .bits = 8, .compression = 1}},
      {"palette of 3 colours", {.bits = 1, .colours_used = 3}},
      {"unknown compression", {.compression = 99}},
      {"0x00000101 is not one run",
       {.header_size = 56, .bits = 32, .compression = 3, .masks = {0x101, 0, 0, 0}}},
  };
  for (const auto& [what, info] : cases) {
    SCOPED_TRACE(what);
    ExpectError(Decode(MakeBmp(info, std::vector<uint8_t>(12), std::vector<uint8_t>(4))),
                ErrorKind::Malformed, what);
  }
  ExpectError(Decode({'B', 'M', 0}), ErrorKind::Truncated, "too short");
  ExpectError(Decode(std::vector<uint8_t>(64, 'x')), ErrorKind::Malformed, "not a BMP file");
  auto file = MakeBmp({}, {}, {0, 0, 0, 0});
  file[10] = 20;  // pixel data offset inside the headers
  ExpectError(Decode(file), ErrorKind::Malformed, "offset 20 lies outside");
  file = MakeBmp({}, {}, {0, 0, 0, 0});
  file[2] -= 2;  // the file header ends inside the pixel data
  ExpectError(Decode(file), ErrorKind::Malformed, "2 bytes after the end");
  file = MakeBmp({}, {}, {0, 0, 0, 0, 9, 9});
  file[2] -= 2;  // ends where the pixels do: the two bytes after are not the picture's
  EXPECT_TRUE(Decode(file).ok());
}

// ---------------------------------------------------------------------------
// Files

class CountingProgress : public Progress {
 public:
  void Advance(uint64_t done, uint64_t total) override { last = {done, total}; }
  std::pair<uint64_t, uint64_t> last{0, 0};
};

Image PatternImage(uint32_t width, uint32_t height, PixelFormat format) {
  auto image = Image::Create(width, height, format, "test").value();
  for (uint32_t y = 0; y < height; ++y) {
    for (size_t i = 0; i < width * BytesPerPixel(format); ++i) {
      image.row(y)[i] = static_cast<uint8_t>(y * 31 + i * 7);
    }
  }
  image.x_pixels_per_metre = 3780;
  image.y_pixels_per_metre = 1890;
  return image;
}

void ExpectRoundTrip(PixelFormat format, uint32_t width, uint64_t expected_size) {
  testing::TempDir dir;
  const Image image = PatternImage(width, 3, format);
  CountingProgress progress;
  ASSERT_TRUE(SaveBmpFile(dir.File("out.bmp"), image, &progress).ok());
  EXPECT_EQ(progress.last, (std::pair<uint64_t, uint64_t>{3, 3}));
  EXPECT_EQ(fs::file_size(dir.File("out.bmp")), expected_size);
  const auto back = LoadBmpFile(dir.File("out.bmp"), nullptr, &progress);
  ASSERT_TRUE(back.ok()) << back.error().message();
  EXPECT_EQ(back.value().format(), format);
  EXPECT_EQ(
      std::vector<uint8_t>(back.value().data(), back.value().data() + back.value().size_bytes()),
      std::vector<uint8_t>(image.data(), image.data() + image.size_bytes()));
  EXPECT_EQ(back.value().x_pixels_per_metre, 3780u);
  EXPECT_EQ(back.value().y_pixels_per_metre, 1890u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(BmpWriter, RoundTripsBgr24WithPaddedRows) {
  ExpectRoundTrip(PixelFormat::Bgr24, 5, 54 + 16 * 3);  // 15 bytes a row, padded to 16
}

TEST(BmpWriter, RoundTripsGray8ThroughAGrayPalette) {
  ExpectRoundTrip(PixelFormat::Gray8, 3, 54 + 1024 + 4 * 3);  // 3 bytes a row, padded to 4
}

TEST(BmpWriter, LeavesNoScratchFileWhenTheTargetIsAFolder) {
  testing::TempDir dir;
  fs::create_directory(dir.path() / "out.bmp");
  const auto result =
      SaveBmpFile(dir.File("out.bmp"), PatternImage(2, 2, PixelFormat::Bgr24), nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), ErrorKind::Io);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(BmpWriter, LeavesNoScratchFileWhenTheFolderIsUnwritable) {
  testing::TempDir dir;
  const Image image = PatternImage(2, 2, PixelFormat::Gray8);
  EXPECT_FALSE(SaveBmpFile(dir.File("missing/out.bmp"), image, nullptr).ok());
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(dir.path().c_str(), W_OK) == 0) {
    GTEST_SKIP() << "running as root: the folder stays writable";
  }
  const auto result = SaveBmpFile(dir.File("out.bmp"), image, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), ErrorKind::Io);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(BmpReader, ReportsAMissingFileByName) {
  testing::TempDir dir;
  const auto image = LoadBmpFile(dir.File("none.bmp"), nullptr, nullptr);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::Io);
  EXPECT_NE(image.error().message().find("none.bmp"), std::string::npos);
}

}  // namespace
}  // namespace zavo
