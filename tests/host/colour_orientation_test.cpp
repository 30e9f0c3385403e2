#include <algorithm>
#include <tuple>

#include "host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/colour_lookup.h"
#include "imaging/imgkit_library.h"
#include "imaging/jpeg_codec.h"
#include "imaging/tiff/tiff_codec.h"
#include "support/fakes.h"
#include "support/image_support.h"

namespace zavo {
namespace {

using testing::MaxChannelDifference;
using testing::RunCommand;
using testing::ToRgb;

const std::string kIcc = "/usr/share/color/icc/";
const std::string kSrgb = kIcc + "colord/sRGB.icc";
const std::string kCmyk = kIcc + "ghostscript/default_cmyk.icc";

bool Shell(const std::string& command) { return RunCommand(command + " >/dev/null 2>&1") == 0; }

// An APP1 block of EXIF data whose first directory holds only the
// orientation: SHORT, count 1, the value padded to four bytes.
std::vector<uint8_t> ExifBlock(uint16_t orientation, bool big_endian) {
  // clang-format off
  if (big_endian) return {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
      1, 0x12, 0, 3, 0, 0, 0, 1, uint8_t(orientation >> 8), uint8_t(orientation), 0, 0, 0, 0, 0, 0};
  return {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
      0x12, 1, 3, 0, 1, 0, 0, 0, uint8_t(orientation), uint8_t(orientation >> 8), 0, 0, 0, 0, 0, 0};
  // clang-format on
}

// "ICC_PROFILE\0" chunks of `profile`, 60000 bytes at most each.
std::vector<std::vector<uint8_t>> IccChunks(const std::vector<uint8_t>& profile) {
  std::vector<std::vector<uint8_t>> chunks;
  const size_t piece = 60000, count = (profile.size() + piece - 1) / piece;
  for (size_t i = 0; i < count; ++i) {
    auto& chunk = chunks.emplace_back(std::begin("ICC_PROFILE"), std::end("ICC_PROFILE"));
    chunk.insert(chunk.end(), {uint8_t(i + 1), uint8_t(count)});
    const size_t end = std::min(profile.size(), (i + 1) * piece);
    chunk.insert(chunk.end(), profile.begin() + i * piece, profile.begin() + end);
  }
  return chunks;
}

// Copies a JPEG file with APPn markers put right after its SOI.
void AddMarkers(const std::string& from, const std::string& to, uint8_t code,
                const std::vector<std::vector<uint8_t>>& payloads) {
  std::vector<uint8_t> bytes = testing::ReadBytes(from);
  // Last first, each in front of those after it.
  for (auto payload = payloads.rbegin(); payload != payloads.rend(); ++payload) {
    const size_t length = payload->size() + 2;
    bytes.insert(bytes.begin() + 2, payload->begin(), payload->end());
    bytes.insert(bytes.begin() + 2, {0xFF, code, uint8_t(length >> 8), uint8_t(length)});
  }
  testing::WriteBytes(to, bytes);
}

class ColourAndOrientation : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVO_REQUIRE_TESTDATA(testdata);
    // A photograph of odd width and height, so every row has BMP padding;
    // 100 dpi across and 200 down, so a turn must swap them.
    ASSERT_TRUE(Shell("convert '" + (testdata / "jpeg/good/testorig.jpg").string() +
                      "' -units PixelsPerInch -density 100x200 -quality 95 " + photo));
  }

  Image Import(const std::string& path) {
    testing::RecordingMessageBoxes boxes;
    LibraryImgKit imgkit(boxes, nullptr, LinkedTiffCodec);
    const std::string bmp = dir.File("transfer.bmp");
    const int16_t format = path.ends_with(".jpg") ? kFormatJpeg : kFormatTiff;
    EXPECT_TRUE(ImportForHost(imgkit, boxes, format, path, bmp));
    return LoadBmpFile(bmp, nullptr, nullptr).value();
  }

  // jpgicc's or tificc's rendering to their built-in sRGB, perceptual as ours.
  testing::RgbPicture LittleCmsRendering(const std::string& path) {
    const bool jpeg = path.ends_with(".jpg");
    const std::string out = dir.File(jpeg ? "lcms.jpg" : "lcms.tif");
    if (!Shell((jpeg ? "jpgicc -q 100 '" : "tificc '") + path + "' " + out)) return {};
    return testing::DecodeWithImageMagick(out).value_or(testing::RgbPicture{});
  }

  testing::TempDir dir;
  std::string photo = dir.File("photo.jpg");
};

TEST_F(ColourAndOrientation, ImportsAllEightOrientationsAsImageMagickShowsThem) {
  for (bool big_endian : {false, true}) {
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
      const std::string jpg = dir.File("turned.jpg"), tif = dir.File("turned.tif");
      AddMarkers(photo, jpg, 0xE1, {ExifBlock(orientation, big_endian)});
      // The big-endian TIFFs are gray, so both pixel sizes are turned.
      ASSERT_TRUE(Shell("convert " + photo + " -endian " +
                        (big_endian ? "MSB -colorspace gray -type grayscale " : "LSB ") + tif +
                        " && tiffset -s 274 " + std::to_string(orientation) + " " + tif));
      for (const std::string& file : {jpg, tif}) {
        SCOPED_TRACE(file + " " + std::to_string(orientation) + (big_endian ? " MM" : " II"));
        const Image transfer = Import(file);
        EXPECT_EQ(
            MaxChannelDifference(ToRgb(transfer), testing::DecodeWithImageMagick(file).value()), 0);
        EXPECT_EQ(std::pair(transfer.x_pixels_per_metre, transfer.y_pixels_per_metre),
                  orientation >= 5 ? std::pair(7874u, 3937u) : std::pair(3937u, 7874u));
      }
    }
  }
}

// Two real-world profiles: a 557 KB press one in nine chunks (Adobe-inverted CMYK) and an RGB one.
TEST_F(ColourAndOrientation, ConvertsEmbeddedProfilesAsLittleCmsDoes) {
  const std::string cmyk = "-profile " + kSrgb + " -profile " + kCmyk;
  const std::string pro = "-profile " + kIcc + "colord/ProPhotoRGB.icc";
  const std::string gray = "-colorspace gray -profile " + kIcc + "Gray.icc";
  const std::string good = (*testing::TestDataDir() / "jpeg/good/ljtseed_testorig_").string();
  const std::pair<std::string, std::string> cases[] = {
      // clang-format off
      {pro, "pro.jpg"}, {"-depth 16 " + pro, "pro.tif"},
      {"-profile " + kIcc + "colord/AdobeRGB1998.icc", "adobe.tif"},
      {gray, "gray.jpg"}, {"-depth 16 " + gray, "gray.tif"},
      {cmyk, "cmyk.jpg"}, {cmyk, "cmyk.tif"}, {"-depth 16 " + cmyk, "cmyk16.tif"},
      {"", good + "rot180_cmyk_411_q50_opt_rst1B_test1icc.jpg"},
      {"", good + "rgb_444_floatdct_q100_test3icc.jpg"}};
  // clang-format on
  for (const auto& [make, name] : cases) {
    SCOPED_TRACE(name);
    const bool made = !name.starts_with("/");
    const std::string file = made ? dir.File(name) : name;
    ASSERT_TRUE(!made || Shell("convert " + photo + " " + make + " -quality 95 " + file));
    EXPECT_LE(MaxChannelDifference(ToRgb(Import(file)), LittleCmsRendering(file)), 2);
  }
}

TEST_F(ColourAndOrientation, ImportsAsStoredWithOneWarningWhenMetadataIsUnusable) {
  auto cut_exif = ExifBlock(6, false), far_exif = ExifBlock(6, true);
  cut_exif.resize(cut_exif.size() - 8);  // the directory ends inside its only entry
  far_exif[13] = 0x7F;                   // IFD0 far beyond the block
  const auto cmyk_chunks = IccChunks(testing::ReadBytes(kCmyk));
  // APP1 or APP2, its blocks, the warning expected ("": none)
  const std::tuple<uint8_t, std::vector<std::vector<uint8_t>>, std::string> cases[] = {
      {0xE1, {cut_exif}, "EXIF data is broken"},
      {0xE1, {far_exif}, "EXIF data is broken"},
      {0xE1, {cut_exif, ExifBlock(1, false)}, "EXIF data is broken"},  // the first counts
      {0xE2, {cmyk_chunks[0], cmyk_chunks[2]}, "chunk 2 is missing"},
      {0xE2, {cmyk_chunks[0], cmyk_chunks[0]}, "comes twice"},
      {0xE2, IccChunks(std::vector<uint8_t>(200, 0x5A)), "cannot be read"},
      {0xE2, std::vector(301, cmyk_chunks[0]), "more than 300 chunks"},
      {0xE2, {cmyk_chunks.rbegin(), cmyk_chunks.rend()}, "is for CMYK"},  // joined by number
      {0xE2, IccChunks(testing::ReadBytes(kSrgb)), ""}};                  // sRGB: nothing to apply
  const std::string file = dir.File("broken.jpg");
  for (const auto& [marker, payloads, warning] : cases) {
    SCOPED_TRACE(warning);
    AddMarkers(photo, file, marker, payloads);
    Warnings warnings;
    Result<Image> image = LoadJpegFile(file, &warnings, nullptr);
    ASSERT_TRUE(image.ok()) << image.error().message();
    EXPECT_EQ(warnings.size(), warning.empty() ? 0u : 1u);
    for (const auto& w : warnings) EXPECT_TRUE(w.find(warning) != w.npos && w.ends_with(file)) << w;
    EXPECT_EQ(testing::Bytes(*image),
              testing::Bytes(LoadJpegFile(photo, nullptr, nullptr).value()));
  }
}

// To the nearest level, as LittleCMS rounds 16 to 8 bits, except that the
// grid's 256ths of a level may turn k + 0.498 into a half, which rounds up.
TEST(ColourLookup, RoundsToTheNearestLevelAsLittleCmsDoes) {
  std::vector<uint8_t> bgr, ink_in, inverted_in;  // each to the same blue, green, red
  for (int level = 0; level < 256; ++level) {
    const uint8_t l = uint8_t(level), m = uint8_t(255 - level), x = uint8_t(level ^ 0x5A);
    bgr.insert(bgr.end(), {l, m, x});
    ink_in.insert(ink_in.end(), {uint8_t(255 - x), l, m, l});
    inverted_in.insert(inverted_in.end(), {x, m, l, l});
  }
  const auto identity = [](const uint16_t* in, uint16_t* rgb, size_t count) {
    std::copy(in, in + 3 * count, rgb);
  };
  const auto ink = [](const uint16_t* in, uint16_t* rgb, size_t count) {  // black ignored
    for (size_t i = 0; i < 3 * count; ++i) rgb[i] = uint16_t(65535 - in[i / 3 * 4 + i % 3]);
  };
  double linear[3][256], unit[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int i = 0; i < 3 * 256; ++i) linear[i / 256][i % 256] = i % 256 / 255.0;
  const std::pair<ColourLookup, const std::vector<uint8_t>*> routes[] = {
      {ColourLookup::ForBgr(identity), &bgr},
      {ColourLookup::ForMatrix(linear, unit, [](double v) { return v; }), &bgr},
      {ColourLookup::ForCmyk(ink, false), &ink_in},
      {ColourLookup::ForCmyk(ink, true), &inverted_in}};
  for (size_t i = 0; i < std::size(routes); ++i) {
    std::vector<uint8_t> out(256 * 3);
    routes[i].first.Convert(routes[i].second->data(), out.data(), 256);
    EXPECT_EQ(out, bgr) << "route " << i;
  }
  // 16-bit 257k + 127, 128 or 129: k + 0.494, 0.498 or 0.502 of a level.
  for (int k : {0, 1, 100, 254}) {
    for (int above : {127, 128, 129}) {
      const uint16_t value[3] = {uint16_t(257 * k + above), 0, 0};
      const auto constant = [&](const uint16_t*, uint16_t* rgb, size_t count) {
        for (size_t i = 0; i < count; ++i) std::copy(value, value + 3, rgb + 3 * i);
      };
      uint8_t ours[3];
      ColourLookup::ForBgr(constant).Convert(bgr.data(), ours, 1);
      EXPECT_LE(std::abs(ours[2] - k - (above > 128)), above == 128) << 257 * k + above;
    }
  }
}

}  // namespace
}  // namespace zavo
