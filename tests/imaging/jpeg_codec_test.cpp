#include "imaging/jpeg_codec.h"

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "support/test_support.h"

namespace zavo {
namespace {

using testing::ReadBytes;
using testing::TempDir;

// We and ImageMagick decode through the same libjpeg-turbo with its default
// islow DCT and fancy upsampling, and round CMYK to RGB alike: no difference.
constexpr int kImageMagickTolerance = 0;

struct CorpusFile {
  std::filesystem::path path;
  std::string expected;  // decode, decode-or-unsupported, either, reject
};

std::vector<CorpusFile> JpegCorpus(const std::filesystem::path& dir) {
  std::vector<CorpusFile> files;
  std::ifstream tsv(dir / "expected.tsv");
  std::string line;
  while (std::getline(tsv, line)) {
    std::istringstream fields(line);
    std::string file, expected;
    std::getline(fields, file, '\t');
    std::getline(fields, expected, '\t');
    if (file.starts_with("jpeg/")) files.push_back({dir / file, expected});
  }
  return files;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Offset of the last marker 0xFF `code` in a JPEG file (0 when there is none).
size_t FindLastMarker(const std::vector<uint8_t>& bytes, uint8_t code) {
  for (size_t i = bytes.size() - 1; i > 0; --i) {
    if (bytes[i - 1] == 0xFF && bytes[i] == code) return i - 1;
  }
  return 0;
}

// A smooth picture with some detail, odd-sized so rows carry BMP padding.
Image MakePicture(uint32_t width, uint32_t height, PixelFormat format) {
  Image image = Image::Create(width, height, format, "test").value();
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = image.row(y);
    for (uint32_t x = 0; x < width; ++x) {
      const double wave = std::sin(x / 9.0) * std::cos(y / 7.0);
      const uint8_t r = static_cast<uint8_t>(128 + 100 * wave);
      const uint8_t g = static_cast<uint8_t>(x * 255 / width);
      const uint8_t b = static_cast<uint8_t>(y * 255 / height);
      if (format == PixelFormat::Gray8) {
        row[x] = static_cast<uint8_t>((r + g + b) / 3);
      } else {
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
      }
    }
  }
  return image;
}

double Psnr(const testing::RgbPicture& a, const testing::RgbPicture& b) {
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::pow(a.rgb[i] - b.rgb[i], 2);
  return 10 * std::log10(255.0 * 255.0 / std::max(sum / a.rgb.size(), 1e-9));
}

// Compresses interleaved pixels with libjpeg itself, for files SaveJpegFile
// never writes: CMYK with or without Adobe's marker, progressive.
std::vector<uint8_t> CompressInMemory(const std::vector<uint8_t>& pixels, int width, int height,
                                      J_COLOR_SPACE space, int components,
                                      void (*configure)(j_compress_ptr)) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  configure(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[cinfo.next_scanline * width * components]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes(out, out + size);
  std::free(out);
  return bytes;
}

// What libjpeg reads from a file's header.
struct JpegHeader {
  int components = 0;
  int density_unit = 0, x_density = 0, y_density = 0;
  int first_luma_quantiser = 0;
};

JpegHeader InspectHeader(const std::vector<uint8_t>& bytes) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
  jpeg_read_header(&cinfo, TRUE);
  JpegHeader header{cinfo.num_components, cinfo.density_unit, cinfo.X_density, cinfo.Y_density,
                    cinfo.quant_tbl_ptrs[0]->quantval[0]};
  jpeg_destroy_decompress(&cinfo);
  return header;
}

// A uniform 16 x 16 CMYK patch, stored as given: at quality 100 a uniform
// block comes back exactly.
std::vector<uint8_t> CmykPatch(std::array<uint8_t, 4> cmyk, bool adobe_marker) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 16 * 16; ++i) pixels.insert(pixels.end(), cmyk.begin(), cmyk.end());
  if (adobe_marker) return CompressInMemory(pixels, 16, 16, JCS_CMYK, 4, [](j_compress_ptr) {});
  return CompressInMemory(pixels, 16, 16, JCS_CMYK, 4,
                          [](j_compress_ptr c) { c->write_Adobe_marker = FALSE; });
}

class RecordingProgress : public Progress {
 public:
  void Advance(uint64_t done, uint64_t total) override { reports.emplace_back(done, total); }
  std::vector<std::pair<uint64_t, uint64_t>> reports;
};

void WritePnm(const std::string& path, const Image& image) {
  const bool gray = image.format() == PixelFormat::Gray8;
  std::ofstream out(path, std::ios::binary);
  out << (gray ? "P5\n" : "P6\n") << image.width() << " " << image.height() << "\n255\n";
  for (uint32_t y = 0; y < image.height(); ++y) {
    const uint8_t* row = image.row(y);
    for (uint32_t x = 0; x < image.width(); ++x) {
      if (gray) {
        out.put(static_cast<char>(row[x]));
      } else {
        for (int channel : {2, 1, 0}) out.put(static_cast<char>(row[3 * x + channel]));
      }
    }
  }
}

// ------------------------------------------------------- the third-party images

// ImageMagick copies a JPEG comment into the PPM it writes, which the shared
// PPM reader does not skip; jpegtran drops comments and leaves the pixels be.
std::optional<testing::RgbPicture> DecodeWithImageMagick(const std::filesystem::path& path,
                                                         const TempDir& temp) {
  if (auto picture = testing::DecodeWithImageMagick(path.string())) return picture;
  const std::string copy = temp.File("no-comment.jpg");
  if (testing::RunCommand("jpegtran -copy none -outfile " + copy + " " + path.string()) != 0) {
    return std::nullopt;
  }
  return testing::DecodeWithImageMagick(copy);
}

TEST(JpegDecoder, DecodesEveryValidCorpusFileAsImageMagickDoes) {
  ZAVO_REQUIRE_TESTDATA(dir);
  TempDir temp;
  int decoded = 0;
  for (const CorpusFile& file : JpegCorpus(dir)) {
    if (file.expected != "decode") continue;
    SCOPED_TRACE(file.path.string());
    ++decoded;
    // Their profiles are applied: the colour tests hold them to LittleCMS.
    if (file.path.filename().string().ends_with("icc.jpg")) continue;
    Warnings warnings;
    Result<Image> image = LoadJpegFile(file.path.string(), &warnings, nullptr);
    ASSERT_TRUE(image.ok()) << image.error().message();
    const auto reference = DecodeWithImageMagick(file.path, temp);
    ASSERT_TRUE(reference.has_value());
    EXPECT_LE(testing::MaxChannelDifference(testing::ToRgb(*image), *reference),
              kImageMagickTolerance);
  }
  EXPECT_EQ(decoded, 31);  // as MANIFEST.md counts them
}

TEST(JpegDecoder, DecodesOrRefusesAsUnsupportedTheVariantsThisLibjpegLacks) {
  ZAVO_REQUIRE_TESTDATA(dir);
  for (const CorpusFile& file : JpegCorpus(dir)) {
    if (file.expected != "decode-or-unsupported") continue;
    SCOPED_TRACE(file.path.string());
    Result<Image> image = LoadJpegFile(file.path.string(), nullptr, nullptr);
    if (image.ok()) continue;
    EXPECT_EQ(image.error().kind(), ErrorKind::Unsupported) << image.error().message();
    EXPECT_TRUE(Contains(image.error().message(), "not supported: " + file.path.string()));
  }
}

// The damaged files must end in a picture or an error that names the file,
// never a crash, an overrun (run this under the sanitizer build) or a hang.
TEST(JpegDecoder, SurvivesEveryDamagedCorpusFile) {
  ZAVO_REQUIRE_TESTDATA(dir);
  std::map<std::string, std::pair<int, int>> outcomes;  // expected -> decoded, refused
  for (const CorpusFile& file : JpegCorpus(dir)) {
    if (file.expected != "reject" && file.expected != "either") continue;
    SCOPED_TRACE(file.path.string());
    const auto start = std::chrono::steady_clock::now();
    Warnings warnings;
    Result<Image> image = LoadJpegFile(file.path.string(), &warnings, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    if (image.ok()) {
      ++outcomes[file.expected].first;
    } else {
      ++outcomes[file.expected].second;
      EXPECT_TRUE(image.error().message().starts_with("JPEG: "));
      EXPECT_TRUE(Contains(image.error().message(), file.path.string()));
    }
  }
  for (const auto& [expected, counts] : outcomes) {
    std::cout << expected << ": " << counts.first << " decoded, " << counts.second << " refused\n";
  }
}

// ------------------------------------------------------------------ decoding

// Debian's libjpeg-turbo 2.1 reads 8-bit lossy JPEG only.
TEST(JpegDecoder, RefusesTwelveBitAndLosslessFilesAsUnsupported) {
  ZAVO_REQUIRE_TESTDATA(dir);
  const std::pair<std::string, std::string> cases[] = {
      {"testorig12.jpg", "12-bit samples are not supported"},
      {"ljtseed_random8_93x98_lossless_psv2_pt0.jpg",
       "lossless JPEG (SOF type 0xc3) is not supported"}};
  for (const auto& [file, reason] : cases) {
    const std::string path = (dir / "jpeg/good" / file).string();
    Result<Image> image = LoadJpegFile(path, nullptr, nullptr);
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().kind(), ErrorKind::Unsupported);
    EXPECT_EQ(image.error().message(), "JPEG: header: " + reason + ": " + path);
  }
}

TEST(JpegDecoder, ReadsGrayJpegsAsGray8) {
  ZAVO_REQUIRE_TESTDATA(dir);
  Result<Image> image =
      LoadJpegFile((dir / "jpeg/good/testimggray.jpg").string(), nullptr, nullptr);
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image->format(), PixelFormat::Gray8);
}

TEST(JpegDecoder, ReadsTheJfifDensityInPixelsPerMetre) {
  ZAVO_REQUIRE_TESTDATA(dir);
  // JFIF unit 2: 1 x 2 dots per centimetre.
  Result<Image> cm =
      LoadJpegFile((dir / "jpeg/good/pil_jfif_unit_cm.jpg").string(), nullptr, nullptr);
  ASSERT_TRUE(cm.ok());
  EXPECT_EQ(cm->x_pixels_per_metre, 100u);
  EXPECT_EQ(cm->y_pixels_per_metre, 200u);
  // JFIF unit 1: 96 dots per inch, 3779.53 per metre.
  Result<Image> dpi =
      LoadJpegFile((dir / "jpeg/good/pil_hopper_gray.jpg").string(), nullptr, nullptr);
  ASSERT_TRUE(dpi.ok());
  EXPECT_EQ(dpi->x_pixels_per_metre, 3780u);
  // JFIF unit 0 gives only the aspect ratio.
  Result<Image> none = LoadJpegFile((dir / "jpeg/good/testorig.jpg").string(), nullptr, nullptr);
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none->x_pixels_per_metre, 0u);
}

// The colour of a decoded uniform patch as red, green, blue.
std::array<int, 3> PatchColour(const std::vector<uint8_t>& bytes) {
  Result<Image> image = DecodeJpeg(bytes, "patch.jpg", nullptr, nullptr);
  EXPECT_TRUE(image.ok());
  if (!image.ok() || image->format() != PixelFormat::Bgr24) return {-1, -1, -1};
  const uint8_t* pixel = image->row(7) + 3 * 7;
  return {pixel[2], pixel[1], pixel[0]};
}

TEST(JpegDecoder, ReadsCmykAsInvertedAdobe) {
  // With Adobe's marker 255 means no ink: red = c * k / 255, rounded.
  EXPECT_EQ(PatchColour(CmykPatch({200, 100, 50, 128}, true)), (std::array{100, 50, 25}));
}

TEST(JpegDecoder, ReadsCmykWithoutAdobeMarkerAsPlainInk) {
  // red = (255 - c) * (255 - k) / 255, rounded.
  EXPECT_EQ(PatchColour(CmykPatch({200, 100, 50, 128}, false)), (std::array{27, 77, 102}));
}

TEST(JpegDecoder, RefusesTwoComponentPicturesAsUnsupported) {
  const std::vector<uint8_t> pixels(8 * 8 * 2, 100);
  Result<Image> image =
      DecodeJpeg(CompressInMemory(pixels, 8, 8, JCS_UNKNOWN, 2, [](j_compress_ptr) {}), "two.jpg",
                 nullptr, nullptr);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::Unsupported);
  EXPECT_EQ(image.error().message(),
            "JPEG: pictures of 2 colour components are not supported: two.jpg");
}

TEST(JpegDecoder, DecodesATruncatedFileWithAWarning) {
  ZAVO_REQUIRE_TESTDATA(dir);
  std::vector<uint8_t> bytes = ReadBytes((dir / "jpeg/good/testorig.jpg").string());
  bytes.resize(bytes.size() * 6 / 10);
  Warnings warnings;
  Result<Image> image = DecodeJpeg(bytes, "cut.jpg", &warnings, nullptr);
  ASSERT_TRUE(image.ok()) << image.error().message();
  EXPECT_EQ(image->width(), 227u);
  EXPECT_EQ(image->height(), 149u);
  // libjpeg fills the missing rows with gray and says so, once per kind of damage.
  EXPECT_EQ(warnings,
            (Warnings{"JPEG: Premature end of JPEG file: cut.jpg",
                      "JPEG: Corrupt JPEG data: premature end of data segment: cut.jpg"}));
}

TEST(JpegDecoder, ReportsAFileCutInItsHeaderAsTruncated) {
  ZAVO_REQUIRE_TESTDATA(dir);
  std::vector<uint8_t> bytes = ReadBytes((dir / "jpeg/good/testorig.jpg").string());
  bytes.resize(100);
  Result<Image> image = DecodeJpeg(bytes, "cut.jpg", nullptr, nullptr);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::Truncated);
  EXPECT_TRUE(image.error().message().ends_with("(the file ends early): cut.jpg"));
}

TEST(JpegDecoder, RefusesEmptyAndForeignData) {
  Result<Image> empty = DecodeJpeg({}, "empty.jpg", nullptr, nullptr);
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().kind(), ErrorKind::Truncated);
  EXPECT_EQ(empty.error().message(), "JPEG: header: Empty input file: empty.jpg");

  const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  Result<Image> foreign = DecodeJpeg(gif, "a.gif", nullptr, nullptr);
  ASSERT_FALSE(foreign.ok());
  EXPECT_EQ(foreign.error().kind(), ErrorKind::Malformed);
  EXPECT_EQ(foreign.error().message(),
            "JPEG: header: Not a JPEG file: starts with 0x47 0x49: a.gif");
}

TEST(JpegDecoder, RefusesPicturesBeyondThePixelLimitBeforeAllocating) {
  std::vector<uint8_t> bytes = CmykPatch({0, 0, 0, 0}, true);
  // The SOF0 segment: FF C0, length, precision, then height and width (16 bits each).
  const size_t sof = FindLastMarker(bytes, 0xC0);
  bytes[sof + 5] = bytes[sof + 7] = 0xFD;  // 64784 x 64784 pixels
  Result<Image> image = DecodeJpeg(bytes, "huge.jpg", nullptr, nullptr);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::TooLarge);
}

// Found by fuzzing: 267 bytes claiming 65295 x 2341 took seconds of gray fill.
TEST(JpegDecoder, RefusesAFileFarTooSmallForThePictureItClaims) {
  std::vector<uint8_t> bytes = CmykPatch({0, 0, 0, 0}, true);
  const size_t sof = FindLastMarker(bytes, 0xC0);
  bytes[sof + 5] = bytes[sof + 7] = 0x3E;  // about 16000 x 16000 pixels, within the limit
  Result<Image> image = DecodeJpeg(bytes, "bomb.jpg", nullptr, nullptr);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::Truncated);
  EXPECT_NE(image.error().message().find("cannot hold the"), std::string::npos)
      << image.error().message();
}

// A damaged progressive file may repeat scans without end; each is a pass
// over the whole picture, so the decoder gives up after 500.
TEST(JpegDecoder, StopsAfterTooManyScans) {
  std::vector<uint8_t> pixels(64 * 64);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> bytes = CompressInMemory(
      pixels, 64, 64, JCS_GRAYSCALE, 1, [](j_compress_ptr c) { jpeg_simple_progression(c); });
  // Repeat the last scan (from its SOS marker to the EOI marker) 600 times.
  const std::vector<uint8_t> scan(bytes.begin() + FindLastMarker(bytes, 0xDA), bytes.end() - 2);
  for (int i = 0; i < 600; ++i) bytes.insert(bytes.end() - 2, scan.begin(), scan.end());

  Result<Image> image = DecodeJpeg(bytes, "scans.jpg", nullptr, nullptr);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::Malformed);
  EXPECT_TRUE(Contains(image.error().message(), "more than 500 scans"));
}

// An odd-sized picture with fine detail, as interleaved RGB.
std::vector<uint8_t> DetailedRgb(int width, int height) {
  std::vector<uint8_t> rgb(size_t(width) * height * 3);
  for (size_t i = 0; i < rgb.size(); ++i) {
    const size_t pixel = i / 3;
    rgb[i] = static_cast<uint8_t>(pixel % width * (i % 3 + 1) + pixel / width * 2 +
                                  (pixel * 2654435761u >> 27));
  }
  return rgb;
}

// Decodes `bytes` from a file with `threads` threads; the bands it took
// and the picture's bytes.
std::pair<unsigned, std::vector<uint8_t>> LoadInBands(const TempDir& temp,
                                                      const std::vector<uint8_t>& bytes,
                                                      unsigned threads, Warnings* warnings) {
  const std::string path = temp.File("bands.jpg");
  testing::WriteBytes(path, bytes);
  unsigned bands = 0;
  Result<Image> image = LoadJpegFileInBands(path, threads, warnings, nullptr, &bands);
  EXPECT_TRUE(image.ok()) << image.error().message();
  if (!image.ok()) return {0, {}};
  return {bands, std::vector<uint8_t>(image->data(), image->data() + image->size_bytes())};
}

TEST(JpegDecoder, DecodesTheSamePictureInBandsAsInOnePiece) {
  TempDir temp;
  using Configure = void (*)(j_compress_ptr);
  const int width = 203, height = 157;
  const std::vector<uint8_t> rgb = DetailedRgb(width, height);
  const std::pair<const char*, Configure> layouts[] = {
      {"4:2:0", [](j_compress_ptr) {}},
      {"4:2:2", [](j_compress_ptr c) { c->comp_info[0].v_samp_factor = 1; }},
      {"4:4:4",
       [](j_compress_ptr c) { c->comp_info[0].h_samp_factor = c->comp_info[0].v_samp_factor = 1; }},
      {"gray", [](j_compress_ptr c) { jpeg_set_colorspace(c, JCS_GRAYSCALE); }},
      {"restart markers", [](j_compress_ptr c) { c->restart_interval = 5; }},
  };
  for (const auto& [layout, configure] : layouts) {
    SCOPED_TRACE(layout);
    const std::vector<uint8_t> bytes = CompressInMemory(rgb, width, height, JCS_RGB, 3, configure);
    const auto [one_band, whole] = LoadInBands(temp, bytes, 1, nullptr);
    EXPECT_EQ(one_band, 1u);
    for (unsigned threads : {2u, 3u, 7u}) {
      SCOPED_TRACE(threads);
      const auto [bands, pixels] = LoadInBands(temp, bytes, threads, nullptr);
      EXPECT_GT(bands, 1u);
      EXPECT_LE(bands, threads);  // bands shorter than a row of blocks are merged
      EXPECT_TRUE(pixels == whole);
    }
  }
}

// Damage in any band sends the file back to the decode in one piece, which
// alone decides the gray fill and the warnings.
TEST(JpegDecoder, DecodesDamagedFilesInOnePieceWhateverTheThreads) {
  TempDir temp;
  std::vector<uint8_t> bytes =
      CompressInMemory(DetailedRgb(160, 160), 160, 160, JCS_RGB, 3, [](j_compress_ptr) {});
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() * 7 / 10);
  std::vector<uint8_t> spoilt = bytes;
  spoilt[spoilt.size() * 8 / 10] = 0xFF;  // a marker where none can be
  spoilt[spoilt.size() * 8 / 10 + 1] = 0xD5;
  for (const std::vector<uint8_t>* damaged : {&cut, &spoilt}) {
    Warnings alone, shared;
    const auto [one_band, whole] = LoadInBands(temp, *damaged, 1, &alone);
    const auto [bands, pixels] = LoadInBands(temp, *damaged, 4, &shared);
    EXPECT_FALSE(alone.empty());
    EXPECT_EQ(shared, alone);
    EXPECT_EQ(bands, 1u);
    EXPECT_TRUE(pixels == whole);
  }
}

// Every corpus file, sound or damaged, comes out of a forced split as it
// comes out in one piece: the same pixels and warnings, or the same error.
TEST(JpegDecoder, GivesEveryCorpusFileTheSameOutcomeWhateverTheThreads) {
  ZAVO_REQUIRE_TESTDATA(dir);
  const auto outcome = [](const std::string& path, unsigned threads) {
    Warnings warnings;
    Result<Image> image = LoadJpegFileInBands(path, threads, &warnings, nullptr, nullptr);
    if (!image.ok()) return std::pair{image.error().message(), warnings};
    return std::pair{std::string(image->data(), image->data() + image->size_bytes()), warnings};
  };
  for (const CorpusFile& file : JpegCorpus(dir)) {
    SCOPED_TRACE(file.path.string());
    EXPECT_TRUE(outcome(file.path.string(), 3) == outcome(file.path.string(), 1));
  }
}

TEST(JpegDecoder, ReportsProgressUpToTheLastRow) {
  ZAVO_REQUIRE_TESTDATA(dir);
  RecordingProgress progress;
  ASSERT_TRUE(LoadJpegFile((dir / "jpeg/good/testorig.jpg").string(), nullptr, &progress).ok());
  ASSERT_FALSE(progress.reports.empty());
  EXPECT_EQ(progress.reports.back(), std::make_pair(uint64_t{149}, uint64_t{149}));
}

// ------------------------------------------------------------------ encoding

TEST(JpegEncoder, RoundTripsColourAndGrayAtSeveralQualities) {
  TempDir temp;
  const std::string path = temp.File("out.jpg");
  // quality -> the least PSNR (dB) the smooth test picture keeps.
  for (const auto& [quality, least_psnr] : {std::pair{25, 30.0}, {75, 36.0}, {95, 42.0}}) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
      SCOPED_TRACE(quality);
      const Image original = MakePicture(101, 67, format);
      ASSERT_TRUE(SaveJpegFile(path, original, quality, false, nullptr).ok());
      Result<Image> decoded = LoadJpegFile(path, nullptr, nullptr);
      ASSERT_TRUE(decoded.ok());
      EXPECT_EQ(decoded->format(), format);
      EXPECT_GE(Psnr(testing::ToRgb(original), testing::ToRgb(*decoded)), least_psnr);
    }
  }
}

TEST(JpegEncoder, WritesOneChannelWhenGrayscaleIsAsked) {
  TempDir temp;
  const std::string path = temp.File("gray.jpg");
  ASSERT_TRUE(SaveJpegFile(path, MakePicture(40, 30, PixelFormat::Bgr24), 90, true, nullptr).ok());
  EXPECT_EQ(InspectHeader(ReadBytes(path)).components, 1);
  Result<Image> decoded = LoadJpegFile(path, nullptr, nullptr);
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded->format(), PixelFormat::Gray8);
}

TEST(JpegEncoder, ClampsQualityToOneToHundred) {
  TempDir temp;
  const Image picture = MakePicture(40, 30, PixelFormat::Bgr24);
  const auto saved = [&](int quality) {
    const std::string path = temp.File("q" + std::to_string(quality) + ".jpg");
    EXPECT_TRUE(SaveJpegFile(path, picture, quality, false, nullptr).ok());
    return ReadBytes(path);
  };
  EXPECT_EQ(saved(0), saved(1));
  EXPECT_EQ(saved(-5), saved(1));
  EXPECT_EQ(saved(250), saved(100));
  // libjpeg's tables scaled: the luminance DC step is 16 at quality 50, 1 at 100,
  // and clamped to 255 at quality 1 (baseline tables).
  EXPECT_EQ(InspectHeader(saved(50)).first_luma_quantiser, 16);
  EXPECT_EQ(InspectHeader(saved(100)).first_luma_quantiser, 1);
  EXPECT_EQ(InspectHeader(saved(1)).first_luma_quantiser, 255);
}

// cjpeg runs the same libjpeg with the same defaults: the bytes of `cjpeg
// -optimize`, and the pixels of plain `cjpeg`, whose standard Huffman tables
// only make the file larger.
TEST(JpegEncoder, WritesTheBytesOfCjpegOptimizeAndThePixelsOfPlainCjpeg) {
  TempDir temp;
  const auto cjpeg = [&](const std::string& options, int quality) {
    EXPECT_EQ(
        testing::RunCommand("cjpeg -baseline " + options + " -quality " + std::to_string(quality) +
                            " -outfile " + temp.File("c.jpg") + " " + temp.File("in.pnm")),
        0);
    return ReadBytes(temp.File("c.jpg"));
  };
  const auto pixels = [](const std::vector<uint8_t>& bytes) {
    Result<Image> image = DecodeJpeg(bytes, "test.jpg", nullptr, nullptr);
    EXPECT_TRUE(image.ok());
    return image.ok() ? std::vector<uint8_t>(image->data(), image->data() + image->size_bytes())
                      : std::vector<uint8_t>{};
  };
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    for (int quality : {10, 75, 100}) {
      SCOPED_TRACE(quality);
      const Image picture = MakePicture(53, 41, format);
      WritePnm(temp.File("in.pnm"), picture);
      ASSERT_TRUE(SaveJpegFile(temp.File("ours.jpg"), picture, quality, false, nullptr).ok());
      const std::vector<uint8_t> ours = ReadBytes(temp.File("ours.jpg"));
      EXPECT_EQ(ours, cjpeg("-optimize", quality));
      const std::vector<uint8_t> plain = cjpeg("", quality);
      EXPECT_LT(ours.size(), plain.size());
      EXPECT_EQ(pixels(ours), pixels(plain));
    }
  }
}

TEST(JpegEncoder, WritesTheDensityInDotsPerInch) {
  TempDir temp;
  const std::string path = temp.File("dpi.jpg");
  Image picture = MakePicture(16, 16, PixelFormat::Gray8);
  picture.x_pixels_per_metre = 3780;   // 96 dpi
  picture.y_pixels_per_metre = 11811;  // 300 dpi
  ASSERT_TRUE(SaveJpegFile(path, picture, 75, false, nullptr).ok());
  const JpegHeader header = InspectHeader(ReadBytes(path));
  EXPECT_EQ(header.density_unit, 1);
  EXPECT_EQ(header.x_density, 96);
  EXPECT_EQ(header.y_density, 300);
  Result<Image> decoded = LoadJpegFile(path, nullptr, nullptr);
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded->x_pixels_per_metre, 3780u);
  EXPECT_EQ(decoded->y_pixels_per_metre, 11811u);

  picture.y_pixels_per_metre = 0;  // half a resolution is none
  ASSERT_TRUE(SaveJpegFile(path, picture, 75, false, nullptr).ok());
  const JpegHeader unknown = InspectHeader(ReadBytes(path));
  EXPECT_EQ(unknown.density_unit, 0);
  EXPECT_EQ(unknown.x_density, 1);
  EXPECT_EQ(unknown.y_density, 1);
}

TEST(JpegEncoder, ReportsProgressUpToTheLastRow) {
  TempDir temp;
  RecordingProgress progress;
  ASSERT_TRUE(SaveJpegFile(temp.File("p.jpg"), MakePicture(20, 50, PixelFormat::Bgr24), 75, false,
                           &progress)
                  .ok());
  ASSERT_FALSE(progress.reports.empty());
  EXPECT_EQ(progress.reports.back(), std::make_pair(uint64_t{50}, uint64_t{50}));
}

// The folder holds only the old file: no scratch file left behind.
void ExpectOnlyTheOldFile(const TempDir& temp, const std::string& path) {
  EXPECT_EQ(testing::ReadText(path), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 1);
}

TEST(JpegEncoder, KeepsTheOldFileWhenAWriteFails) {
  TempDir temp;
  const std::string path = temp.File("big.jpg");
  testing::WriteText(path, "old");
  // Noise compresses badly: far more than the 64 KiB the file may grow to.
  Image noise = Image::Create(400, 400, PixelFormat::Bgr24, "test").value();
  for (size_t i = 0; i < noise.size_bytes(); ++i)
    noise.data()[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
  // Beyond RLIMIT_FSIZE a write fails with EFBIG once SIGXFSZ is ignored.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Result<void> result = SaveJpegFile(path, noise, 100, false, nullptr);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);

  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), ErrorKind::Io);
  EXPECT_EQ(result.error().message(), "cannot write " + path + ": File too large");
  ExpectOnlyTheOldFile(temp, path);
}

TEST(JpegEncoder, KeepsTheOldFileWhenLibjpegRefusesThePicture) {
  TempDir temp;
  const std::string path = temp.File("wide.jpg");
  testing::WriteText(path, "old");
  // libjpeg's limit is 65500 pixels a side, ours is higher.
  const Image wide = Image::Create(65535, 1, PixelFormat::Gray8, "test").value();
  Result<void> result = SaveJpegFile(path, wide, 75, false, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message(),
            "JPEG: write: Maximum supported image dimension is 65500 pixels: " + path);
  ExpectOnlyTheOldFile(temp, path);
}

}  // namespace
}  // namespace zavo
