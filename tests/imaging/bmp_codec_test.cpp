#include "imaging/bmp_codec.h"

#include <array>

#include "imaging/image_rows.h"
#include "support/image_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;

// Little-endian 32-bit words after `out`; palette entries are blue, green, red, 0.
std::vector<uint8_t> Words(std::initializer_list<uint32_t> words, std::vector<uint8_t> out = {}) {
  for (uint32_t word : words) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));
  }
  return out;
}

// The info header fields a test varies; the rest are zero.
struct Info {
  uint32_t header_size = 40;
  int32_t width = 1, height = 1;
  uint16_t planes = 1, bits = 24;
  uint32_t compression = 0, colours_used = 0;
  int32_t x_ppm = 0, y_ppm = 0;
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha: inside headers of 52 bytes and up
};

// File header, info header, then `tables` (masks after a 40-byte header, the
// palette) and `pixels`, with the offsets and sizes filled in.
std::vector<uint8_t> MakeBmp(const Info& info, const std::vector<uint8_t>& tables,
                             const std::vector<uint8_t>& pixels) {
  const uint32_t offset = 14 + info.header_size + static_cast<uint32_t>(tables.size());
  const auto size = static_cast<uint32_t>(pixels.size());
  // Planes and bits per pixel are two 16-bit fields; masks as far as the header reaches.
  std::vector<uint8_t> out =
      Words({offset + size, 0u, offset, info.header_size, uint32_t(info.width),
             uint32_t(info.height), info.planes | uint32_t{info.bits} << 16, info.compression, size,
             uint32_t(info.x_ppm), uint32_t(info.y_ppm), info.colours_used, 0u, info.masks[0],
             info.masks[1], info.masks[2], info.masks[3]},
            {'B', 'M'});
  out.resize(14 + info.header_size);
  out.insert(out.end(), tables.begin(), tables.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// ImageMagick truncates alpha over white (pil_rgb32bf-rgba) where we round,
// and questionable renderings truncate channels wider than 8 bits: 1 level.
// One without a rendering may be refused (rgb24prof2 relies on its profile);
// bmp_renderings.tsv names the renderings that several files share.
TEST(BmpSuite, TreatsEveryFileAsItsJudgementSays) {
  ZAVO_REQUIRE_TESTDATA(dir);
  const auto shared = testing::Table("imaging/bmp_renderings.tsv");
  // Pieces smaller than the files, so every pass moves its window on.
  const ScopedFileReadBytes small_reads(300);
  int decoded = 0;
  for (const testing::CorpusFile& file : testing::Corpus(dir, "bmp/")) {
    const fs::path& path = file.path;
    SCOPED_TRACE(path.string());
    Warnings warnings;
    const auto image = LoadBmpFile(path.string(), &warnings, nullptr);
    const bool good = file.expected == "decode";
    const std::string stem = path.stem().string();
    const auto png =
        dir / "bmp/reference" / (shared.contains(stem) ? shared.at(stem)[0] : stem + ".png");
    const bool rendered = fs::exists(png);
    if (!image.ok()) {
      testing::ExpectFailure(image, image.error().kind(), "BMP: ", path.string());
      EXPECT_FALSE(good || (rendered && path.parent_path().filename() == "questionable"));
      continue;
    }
    EXPECT_NE(file.expected, "reject");
    if (!good && !rendered) continue;
    ++decoded;
    EXPECT_TRUE(!good || warnings.empty());
    const auto expected = testing::DecodeWithImageMagick((rendered ? png : path).string());
    const int tolerance = !good || path.filename() == "pil_rgb32bf-rgba.bmp" ? 1 : 0;
    EXPECT_LE(testing::MaxChannelDifference(testing::ToRgb(image.value()), expected.value()),
              tolerance);
  }
  EXPECT_GE(decoded, 35 + 30);
}

// Exact where the suite leaves 1 level, and faults the suite misses. Pixels
// skipped by run-length data count as transparent: white, like alpha.
TEST(BmpReader, DecodesEveryPixelLayout) {
  constexpr uint32_t W = 0xFFFFFF, R = 0xFF0000, G = 0x00FF00, M = 0x808080;
  Info v5{.header_size = 124, .width = 3, .bits = 32, .compression = 3};
  v5.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  Info v2{.header_size = 52, .width = 2, .bits = 16, .compression = 3};
  v2.masks = {0xF800, 0x07E0, 0x001F, 0x8000};  // 5-6-5 and a 1-bit alpha
  const std::vector<uint8_t> two16{0x00, 0xFC, 0x00, 0x7C};
  struct Case {
    std::string what;
    std::vector<uint8_t> file;
    std::vector<uint32_t> pixels;
    PixelFormat format = PixelFormat::Bgr24;
  };
  const Case cases[] = {
      {"V5 alpha over white: opaque red, half black, clear green",
       MakeBmp(v5, {}, {0, 0, 0xFF, 0xFF, 0, 0, 0, 0x80, 0, 0xFF, 0, 0}),
       {R, 0x7F7F7F, W}},
      // red 2 bits, green 3, blue 1: red 1 of 3 is 85, green 2 of 7 is 72.9, rounded
      {"16-bit bitfields of odd widths",
       MakeBmp({.width = 3, .bits = 16, .compression = 3}, Words({0xC000, 0x3800, 0x0400}),
               {0x00, 0xFC, 0x00, 0x40, 0x00, 0x10, 0, 0}),
       {W, 0x550000, 0x004900}},
      {"alpha bitfields: 10-bit colours, alpha 3 of 3, red 512 of 1023",
       MakeBmp({.bits = 32, .compression = 6},
               Words({0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}), {0, 0, 0, 0xE0}),
       {0x800000}},
      // As Windows: 5-5-5, also when a V4 header holds masks without asking for them.
      {"16-bit default masks",
       MakeBmp({.header_size = 108, .width = 2, .bits = 16, .masks = v2.masks}, {}, two16),
       {R, R}},
      // A V2 header holds no alpha mask. Green 32 of 63 is 129.5, red 15 of 31 123.4.
      {"16-bit V2 header bit fields", MakeBmp(v2, {}, two16), {0xFF8200, 0x7B8200}},
      {"gray palette, the red entry unused",
       MakeBmp({.bits = 8, .colours_used = 2}, Words({M, R}), {0, 0, 0, 0}),
       {M},
       PixelFormat::Gray8},
      {"gray palette, the red entry used",
       MakeBmp({.bits = 8, .colours_used = 2}, Words({M, R}), {1, 0, 0, 0}),
       {R}},
      // A run of 3 alternating nibbles 1, 2, 1; end of line; an absolute run 2, 1, 2.
      {"RLE4 ending without its end mark",
       MakeBmp({.width = 3, .height = 3, .bits = 4, .compression = 2}, Words({0, W, M}),
               {0x03, 0x12, 0x00, 0x00, 0x00, 0x03, 0x21, 0x20}),
       {W, W, W, M, W, M, W, M, W},
       PixelFormat::Gray8},
      // 255 pixels into a row of 2, a delta far right, the next row one pixel,
      // a delta far above the picture and a run never drawn.
      {"RLE runs past the row's end dropped, not wrapped",
       MakeBmp({.width = 2, .height = 2, .bits = 8, .compression = 1}, Words({0, R, G}),
               {0xFF, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x02, 0x00, 0xFF,
                0x01, 0x01}),
       {G, W, R, R}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Warnings warnings;
    const auto image = DecodeBmp(c.file, "t.bmp", &warnings);
    ASSERT_TRUE(image.ok()) << image.error().message();
    const std::vector<uint8_t> rgb = testing::ToRgb(image.value()).rgb;
    std::vector<uint32_t> pixels;  // as 0xRRGGBB
    for (size_t i = 0; i < rgb.size(); i += 3)
      pixels.push_back(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    EXPECT_EQ(std::pair(image->format(), pixels), std::pair(c.format, c.pixels));
    EXPECT_EQ(warnings.size(), c.what.starts_with("RLE4") ? 1u : 0u);
    EXPECT_TRUE(warnings.empty() || warnings[0].find("ends early") != std::string::npos);
  }
}

// OS/2 writers put the headers' size in the file size field, others 0.
TEST(BmpReader, JudgesTheFileSizeFieldAndReadsTheResolution) {
  // 60 bytes, the pixels ending at 58 after 54 bytes of headers; the size
  // field the headers' size, 0, the pixels' end or the file's size is good.
  const std::pair<uint8_t, std::string> cases[] = {
      {54, ""}, {0, ""}, {58, ""}, {60, ""}, {61, "cut short"}, {56, "4 bytes after the end"}};
  for (const auto& [size, words] : cases) {
    SCOPED_TRACE(int(size));
    auto file = MakeBmp({.x_ppm = 2835, .y_ppm = -5}, {}, {0, 0, 0, 0, 9, 9});
    file[2] = size;
    const auto image = DecodeBmp(file, "t.bmp", nullptr);
    if (!words.empty()) {
      testing::ExpectFailure(image, size > 60 ? ErrorKind::Truncated : ErrorKind::Malformed,
                             "BMP: ", words);
    } else {
      ASSERT_TRUE(image.ok()) << image.error().message();
      EXPECT_EQ(std::pair(image->x_pixels_per_metre, image->y_pixels_per_metre),
                std::pair(2835u, 0u));
    }
  }
}

TEST(BmpReader, RefusesWhatItCannotOrMustNotDecode) {
  auto array = MakeBmp({}, {}, {0, 0, 0, 0}), inside = array;
  array[1] = 'A';   // an OS/2 bitmap array
  inside[10] = 20;  // pixel data offset inside the headers
  using enum ErrorKind;
  std::vector<std::tuple<std::string, std::vector<uint8_t>, ErrorKind>> cases = {
      {"embedded JPEG", MakeBmp({.header_size = 124, .compression = 4}, {}, {}), Unsupported},
      {"embedded PNG", MakeBmp({.header_size = 124, .compression = 5}, {}, {}), Unsupported},
      {"64 bits per pixel", MakeBmp({.bits = 64}, {}, std::vector<uint8_t>(8)), Unsupported},
      // In a 64-byte OS/2 header, codes 3 and 4 mean Huffman 1D and RLE24.
      {"Huffman", MakeBmp({.header_size = 64, .bits = 1, .compression = 3}, {}, {}), Unsupported},
      {"RLE24", MakeBmp({.header_size = 64, .compression = 4}, {}, {}), Unsupported},
      {"bitmap array", array, Unsupported},
      {"header claims 70000 x 70000 pixels (limit 1048576 per side, 268435456 in all): t.bmp",
       MakeBmp({.width = 70000, .height = 70000}, {}, {}), TooLarge},
      // Within the limits, but the file holds none of the 805 MB the header implies.
      {"pixel data needs 805306368 bytes but the file has 0",
       MakeBmp({.width = 16384, .height = 16384}, {}, {}), Truncated},
      {"pixel data needs 48 bytes but the file has 12",
       MakeBmp({.width = 4, .height = 4}, {}, std::vector<uint8_t>(12)), Truncated},
      {"palette entry 2 but the palette has 2 entries",
       MakeBmp({.width = 2, .bits = 4, .colours_used = 2}, Words({0, 0xFF}), {0x12, 0, 0, 0}),
       Malformed},
      {"not a BMP file", std::vector<uint8_t>(64, 'x'), Malformed},
      {"offset 20 lies outside", inside, Malformed},
  };
  // clang-format off
  const std::pair<const char*, Info> broken[] = {
      {"plane count is 0", {.planes = 0}}, {"width 0", {.width = 0}}, {"width -1", {.width = -1}},
      {"height 0", {.height = 0}}, {"height -2147483648", {.height = INT32_MIN}},
      {"3 bits per pixel", {.bits = 3}}, {"header size 66", {.header_size = 66}},
      {"compression does not fit 4 bits per pixel", {.bits = 4, .compression = 1}},
      {"compression does not fit 8 bits per pixel", {.bits = 8, .compression = 2}},
      {"compression does not fit 24 bits per pixel", {.bits = 24, .compression = 3}},
      {"top-down", {.height = -1, .bits = 8, .compression = 1}},
      {"top-down", {.height = -1, .bits = 4, .compression = 2}},
      {"palette of 3 colours", {.bits = 1, .colours_used = 3}},
      {"unknown compression", {.compression = 99}}, {"0x00000101 is not one run",
       {.header_size = 56, .bits = 32, .compression = 3, .masks = {0x101, 0, 0, 0}}}};
  // clang-format on
  for (const auto& [what, info] : broken) {
    cases.push_back(
        {what, MakeBmp(info, std::vector<uint8_t>(12), std::vector<uint8_t>(4)), Malformed});
  }
  for (const auto& [words, file, kind] : cases) {
    SCOPED_TRACE(words);
    testing::ExpectFailure(DecodeBmp(file, "t.bmp", nullptr), kind, "BMP: ", words);
  }
}

// Rows padded to 4 bytes, gray through a palette; the host round trip holds the pixels.
TEST(BmpWriter, WritesPaddedRowsAndAGrayPaletteWithProgress) {
  testing::TempDir dir;
  const std::string path = dir.File("out.bmp");
  for (const auto& [format, width, size] :
       {std::tuple{PixelFormat::Bgr24, 5u, 54 + 16 * 3},
        std::tuple{PixelFormat::Gray8, 3u, 54 + 1024 + 4 * 3}}) {
    testing::RecordingProgress progress;
    ASSERT_TRUE(SaveBmpFile(path, testing::Noise(width, 3, format), &progress).ok());
    EXPECT_EQ(progress.reports.back(), (std::pair<uint64_t, uint64_t>{3, 3}));
    EXPECT_EQ(fs::file_size(path), size_t(size));
  }
}

}  // namespace
}  // namespace zavo
