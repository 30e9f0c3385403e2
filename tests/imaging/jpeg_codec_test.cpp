#include "imaging/jpeg_codec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "imaging/jpeg_coefficients.h"
#include "support/hostile_jpeg.h"
#include "support/image_support.h"

namespace zavo {
namespace {

using testing::Bytes;
using testing::CompressJpeg;
using testing::ReadBytes;
using testing::TempDir;

std::pair<std::string, Warnings> Outcome(const std::string& path, unsigned threads,
                                         unsigned* bands = nullptr) {
  Warnings warnings;
  Result<Image> image = LoadJpegFileInBands(path, threads, &warnings, nullptr, bands);
  if (!image.ok()) return {image.error().message(), warnings};
  const std::vector<uint8_t> bytes = Bytes(*image);
  return {std::string(bytes.begin(), bytes.end()), warnings};
}

// Held exactly to ImageMagick: the same libjpeg-turbo, islow DCT, fancy
// upsampling and CMYK rounding.
TEST(JpegDecoder, TreatsEveryCorpusFileAsItsJudgementSays) {
  ZAVO_REQUIRE_TESTDATA(dir);
  const auto densities = testing::Table("imaging/jpeg_density.tsv");
  size_t decoded = 0;
  for (const testing::CorpusFile& file : testing::Corpus(dir, "jpeg/")) {
    const std::string path = file.path.string();
    SCOPED_TRACE(path);
    Warnings warnings;
    Result<Image> image = LoadJpegFile(path, &warnings, nullptr);
    if (file.expected == "decode") {
      ++decoded;
      ASSERT_TRUE(image.ok()) << image.error().message();
      // Broken metadata is only a warning; the pictures of both are judged.
      const char* warned[] = {"pil_icc-after-SOF.jpg", "pil_invalid-exif.jpg"};
      EXPECT_EQ(warnings.size(), size_t(std::ranges::count(warned, file.path.filename())));
      if (auto row = densities.find(file.path.filename()); row != densities.end()) {
        EXPECT_EQ((image->format() == PixelFormat::Gray8 ? "gray " : "colour ") +
                      std::to_string(image->x_pixels_per_metre) + " " +
                      std::to_string(image->y_pixels_per_metre),
                  row->second[0] + " " + row->second[1]);
      }
      // Profiles are applied to these: the colour tests hold them to LittleCMS.
      if (path.ends_with("icc.jpg")) continue;
      const auto reference = testing::DecodeWithImageMagick(path).value();
      EXPECT_EQ(testing::MaxChannelDifference(testing::ToRgb(*image), reference), 0);
    } else if (file.expected == "decode-or-unsupported" && !image.ok()) {
      testing::ExpectFailure(image, ErrorKind::Unsupported, "JPEG: ", "not supported: " + path);
    } else if (file.expected == "reject" || file.expected == "either") {
      // Damage is noticed: an error naming the file, or a warning.
      if (!image.ok()) testing::ExpectFailure(image, image.error().kind(), "JPEG: ", path);
      EXPECT_TRUE(file.expected == "either" || !image.ok() || !warnings.empty());
    }
    EXPECT_TRUE(Outcome(path, 3) == Outcome(path, 1));
  }
  EXPECT_EQ(decoded, 31u);  // as MANIFEST.md counts them
}

TEST(JpegDecoder, RefusesWhatItCannotOrMustNotDecode) {
  std::vector<uint8_t> huge = CompressJpeg(std::vector<uint8_t>(64), 8, 8, 1), thin = huge;
  const std::vector<uint8_t> cut_header(huge.begin(), huge.begin() + 100);
  testing::ClaimSize(huge, 64784, 64784);
  // Found by fuzzing: 267 bytes claiming 65295 x 2341 took seconds of gray fill. This one
  // is a byte short of 1 % of the 500000 bytes its blocks need at the least.
  testing::ClaimSize(thin, 16000, 16000);
  testing::PadTo(thin, 4999);
  auto scans = CompressJpeg(std::vector<uint8_t>(64), 8, 8, 1, jpeg_simple_progression);
  testing::RepeatLastScan(scans, 600);  // each a pass over the picture: 500 at most
  const std::tuple<std::string, std::vector<uint8_t>, ErrorKind, std::string> cases[] = {
      {"two", CompressJpeg(std::vector<uint8_t>(8 * 8 * 2, 100), 8, 8, 2), ErrorKind::Unsupported,
       "JPEG: pictures of 2 colour components are not supported: two"},
      {"gif", {'G', 'I', 'F', '8', '9', 'a'}, ErrorKind::Malformed, "starts with 0x47 0x49: gif"},
      {"cut", cut_header, ErrorKind::Truncated, "(the file ends early): cut"},
      {"huge", huge, ErrorKind::TooLarge, "64784 x 64784"},
      {"thin", thin, ErrorKind::Truncated, "cannot hold the"},
      {"scans", scans, ErrorKind::Malformed, "more than 500 scans"},
      // Enough bytes to pay for the work, but 2^28 progressive 4:4:4 pixels
      // need 1.5 GiB of coefficients beside the picture itself.
      {"memory", testing::PaddedProgressiveJpeg(16384, 4 << 20), ErrorKind::TooLarge,
       "1024 MiB of working memory"},
  };
  for (const auto& [name, bytes, kind, words] : cases) {
    SCOPED_TRACE(name);
    testing::ExpectFailure(DecodeJpeg(bytes, name, nullptr, nullptr), kind, "JPEG: ", words);
  }
}

// Adobe's inverted CMYK is in the corpus; plain CMYK is ink, red = (255 - c)
// * (255 - k) / 255 rounded, and a flat block at quality 100 comes back exactly.
TEST(JpegDecoder, ReadsCmykWithoutAdobesMarkerAsInk) {
  std::vector<uint8_t> cmyk;
  for (int i = 0; i < 8 * 8; ++i) cmyk.insert(cmyk.end(), {200, 100, 50, 128});
  const auto plain = [](j_compress_ptr c) { c->write_Adobe_marker = FALSE; };
  Result<Image> image = DecodeJpeg(CompressJpeg(cmyk, 8, 8, 4, plain), "p", nullptr, nullptr);
  ASSERT_TRUE(image.ok() && image->format() == PixelFormat::Bgr24);
  EXPECT_EQ(std::vector(image->row(7) + 21, image->row(7) + 24),
            (std::vector<uint8_t>{102, 77, 27}));
}

// Damage anywhere sends the file back to the decode in one piece, within the
// file's one budget; the corpus test holds every damaged file to the same.
TEST(JpegDecoder, DecodesTheSamePictureInBandsAsInOnePiece) {
  TempDir temp;
  const std::string path = temp.File("bands.jpg");
  // Odd-sized, so the bands end inside a row of blocks.
  const std::vector<uint8_t> rgb = Bytes(testing::Noise(203, 157, PixelFormat::Bgr24));
  using Damage = void (*)(std::vector<uint8_t>&);
  const std::tuple<const char*, void (*)(j_compress_ptr), Damage> layouts[] = {
      {"4:2:0", [](j_compress_ptr) {}, nullptr},
      {"gray", [](j_compress_ptr c) { jpeg_set_colorspace(c, JCS_GRAYSCALE); }, nullptr},
      {"cut", nullptr, [](auto& b) { b.resize(b.size() * 7 / 10); }},
      // A marker where none can be, in the last band.
      {"spoilt", nullptr, [](auto& b) { std::memcpy(&b[b.size() * 4 / 5], "\xFF\xD5", 2); }},
  };
  for (const auto& [layout, configure, damage] : layouts) {
    SCOPED_TRACE(layout);
    std::vector<uint8_t> bytes = CompressJpeg(rgb, 203, 157, 3, configure);
    if (damage) damage(bytes);
    testing::WriteBytes(path, bytes);
    const auto whole = Outcome(path, 1);
    if (layout == std::string("cut")) {
      EXPECT_EQ(whole.second,
                (Warnings{"JPEG: Premature end of JPEG file: " + path,
                          "JPEG: Corrupt JPEG data: premature end of data segment: " + path}));
    }
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
      SCOPED_TRACE(threads);
      unsigned bands = 0;
      EXPECT_TRUE(Outcome(path, threads, &bands) == whole);
      // Bands under a row of blocks are merged; a warning leaves one piece.
      EXPECT_TRUE(whole.second.empty() && threads > 1 ? bands > 1 && bands <= threads : bands == 1)
          << bands;
    }
  }
  // 4800 x 4000 claimed, cut after a few blocks, padded to 2 KB: its budget
  // pays for one decode, not for bands and a decode in one piece after them.
  std::vector<uint8_t> cut = CompressJpeg(std::vector<uint8_t>(16 * 16, 90), 16, 16, 1);
  testing::ClaimSize(cut, 4800, 4000);
  testing::PadTo(cut, 2050);
  testing::WriteBytes(path, cut);
  const auto whole = Outcome(path, 1);
  EXPECT_EQ(whole.first.size(), 4800u * 4000u);
  for (unsigned threads : {2u, 7u}) EXPECT_TRUE(Outcome(path, threads) == whole) << threads;
}

// Half a resolution is none; cjpeg holds the quality and the unknown density.
TEST(JpegEncoder, WritesTheDensityAndGrayAsked) {
  TempDir temp;
  const std::string path = temp.File("h.jpg");
  // Pixels per metre across and down, gray, and what they read back as.
  const std::tuple<uint32_t, uint32_t, bool, uint32_t, uint32_t> cases[] = {
      {3780, 11811, false, 3780, 11811}, {3780, 0, true, 0, 0}};
  for (const auto& [x_ppm, y_ppm, grayscale, x_back, y_back] : cases) {
    Image picture = testing::Noise(40, 30, PixelFormat::Bgr24);
    picture.x_pixels_per_metre = x_ppm;
    picture.y_pixels_per_metre = y_ppm;
    testing::RecordingProgress progress;
    ASSERT_TRUE(SaveJpegFile(path, picture, 75, grayscale, &progress).ok());
    EXPECT_EQ(progress.reports.back(), std::make_pair(uint64_t{30}, uint64_t{30}));
    const Image back = LoadJpegFile(path, nullptr, nullptr).value();
    EXPECT_EQ(std::tuple(back.format(), back.x_pixels_per_metre, back.y_pixels_per_metre),
              std::tuple(grayscale ? PixelFormat::Gray8 : PixelFormat::Bgr24, x_back, y_back));
  }
  // A side beyond libjpeg's 65500 (ours is higher) is too large, not malformed.
  const Image wide = Image::Create(65535, 1, PixelFormat::Gray8, "test").value();
  testing::ExpectFailure(SaveJpegFile(path, wide, 75, false, nullptr), ErrorKind::TooLarge,
                         "JPEG: write: Maximum supported image dimension is 65500 pixels: " + path,
                         "");
}

// Bytes this process has read so far, by any read: /proc's first line, rchar.
uint64_t BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  io >> key >> value;
  return value;
}

// Each report, with what the process had read by then.
struct ReadWatchingProgress : Progress {
  void Advance(uint64_t done, uint64_t total) override {
    reports.push_back({done, total, BytesReadSoFar() - start});
  }
  const uint64_t start = BytesReadSoFar();
  std::vector<std::array<uint64_t, 3>> reports;  // done, total, bytes read
};

// A multi-scan file reads all its scans before its first row: the bar moves
// from the start, never back, and ends full; judged by bytes read, not time.
TEST(JpegDecoder, ReportsProgressFromTheFirstScanOn) {
  TempDir temp;
  const std::string plain = temp.File("plain.jpg"), path = temp.File("scans.jpg");
  ASSERT_TRUE(
      SaveJpegFile(plain, testing::Noise(1200, 900, PixelFormat::Bgr24), 95, false, nullptr));
  std::ofstream(temp.File("scans.txt")) << "0; 1; 2;\n";  // one component a scan
  for (const std::string& options :
       std::vector<std::string>{"", "-progressive", "-scans " + temp.File("scans.txt")}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(testing::RunCommand("jpegtran " + options + " -outfile " + path + " " + plain), 0);
    ReadWatchingProgress progress;
    ASSERT_TRUE(LoadJpegFileInBands(path, 1, nullptr, &progress, nullptr));
    ASSERT_GE(progress.reports.size(), 50u);
    EXPECT_LT(progress.reports.front()[2], ReadBytes(path).size() / 2);
    for (size_t i = 1; i < progress.reports.size(); ++i) {
      EXPECT_GT(progress.reports[i][0], progress.reports[i - 1][0]);
      EXPECT_EQ(progress.reports[i][1], 900u);
    }
    EXPECT_EQ(progress.reports.back()[0], 900u);
  }
}

// cjpeg runs the same libjpeg with the same defaults.
TEST(JpegEncoder, WritesTheBytesOfCjpegOptimize) {
  TempDir temp;
  for (bool gray : {false, true}) {
    const Image picture = testing::Noise(53, 41, gray ? PixelFormat::Gray8 : PixelFormat::Bgr24);
    const std::vector<uint8_t> rgb = testing::ToRgb(picture).rgb;
    std::ofstream(temp.File("in.ppm"), std::ios::binary) << "P6\n53 41\n255\n"
                                                         << std::string(rgb.begin(), rgb.end());
    for (int quality : {10, 75, 100}) {
      SCOPED_TRACE(quality);
      ASSERT_TRUE(SaveJpegFile(temp.File("ours.jpg"), picture, quality, false, nullptr).ok());
      ASSERT_EQ(testing::RunCommand("cjpeg -baseline -optimize -quality " +
                                    std::to_string(quality) + (gray ? " -grayscale " : " ") +
                                    temp.File("in.ppm") + " >" + temp.File("c.jpg")),
                0);
      EXPECT_EQ(ReadBytes(temp.File("ours.jpg")), ReadBytes(temp.File("c.jpg")));
    }
  }
}

// The encoder's coefficients lie in one huge-page block of ours; cjpeg holds the bytes.
TEST(JpegCoefficients, LieInABlockOfOurOwn) {
  JpegCoefficients coefficients{};
  CompressJpeg(std::vector<uint8_t>(64 * 3), 8, 8, 3, [&](j_compress_ptr c) {
    c->optimize_coding = TRUE;
    KeepJpegCoefficients(c, &coefficients);
  });
#ifndef ZAVO_SANITIZED
  EXPECT_NE(coefficients.block, nullptr);
#endif
  ReleaseJpegCoefficients(&coefficients);
}

}  // namespace
}  // namespace zavo
