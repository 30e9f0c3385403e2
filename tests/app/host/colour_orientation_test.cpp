// Imports held by PSNR to ImageMagick (-auto-orient, -profile) and to
// LittleCMS's jpgicc and tificc, on pictures made from a shared photograph.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/imgkit_library.h"
#include "imaging/jpeg_codec.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using testing::Psnr;
using testing::RgbPicture;
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
  std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
      0x12, 1, 3, 0, 1, 0, 0, 0, uint8_t(orientation), uint8_t(orientation >> 8), 0, 0, 0, 0, 0, 0};
  // clang-format on
  if (!big_endian) return out;
  out[6] = out[7] = 'M';
  for (const auto& [at, size] :
       {std::pair{8, 2}, {10, 4}, {14, 2}, {16, 2}, {18, 2}, {20, 4}, {24, 2}}) {
    std::reverse(out.begin() + at, out.begin() + at + size);
  }
  return out;
}

// ICC_PROFILE chunks of `profile`, 60000 bytes at most each.
std::vector<std::vector<uint8_t>> IccChunks(const std::vector<uint8_t>& profile) {
  std::vector<std::vector<uint8_t>> chunks;
  const size_t piece = 60000, count = (profile.size() + piece - 1) / piece;
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> chunk = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    chunk.insert(chunk.end(), {static_cast<uint8_t>(i + 1), static_cast<uint8_t>(count)});
    const size_t end = std::min(profile.size(), (i + 1) * piece);
    chunk.insert(chunk.end(), profile.begin() + i * piece, profile.begin() + end);
    chunks.push_back(std::move(chunk));
  }
  return chunks;
}

// Copies a JPEG file with APPn markers put right after its SOI.
void AddMarkers(const std::string& from, const std::string& to, uint8_t code,
                const std::vector<std::vector<uint8_t>>& payloads) {
  std::vector<uint8_t> bytes = testing::ReadBytes(from);
  std::vector<uint8_t> markers;
  for (const auto& payload : payloads) {
    const size_t length = payload.size() + 2;
    markers.insert(markers.end(), {0xFF, code, uint8_t(length >> 8), uint8_t(length)});
    markers.insert(markers.end(), payload.begin(), payload.end());
  }
  bytes.insert(bytes.begin() + 2, markers.begin(), markers.end());
  testing::WriteBytes(to, bytes);
}

class ColourAndOrientation : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVO_REQUIRE_TESTDATA(data);
    testdata = data;
    // A photograph of odd width and height, so every row has BMP padding.
    ASSERT_TRUE(Shell("convert '" + (testdata / "jpeg/good/testorig.jpg").string() + "' " + photo));
  }

  // The transfer file the import writes, as the host would read it.
  Image Import(const std::string& path) {
    testing::RecordingMessageBoxes boxes;
    LibraryImgKit imgkit(boxes);
    const std::string bmp = dir.File("transfer.bmp");
    const int16_t format = path.ends_with(".jpg") ? kFormatJpeg : kFormatTiff;
    EXPECT_TRUE(ImportForHost(imgkit, boxes, format, path, bmp));
    return LoadBmpFile(bmp, nullptr, nullptr).value();
  }

  // ImageMagick's rendering after `options` ("-profile sRGB.icc"); or with
  // "lcms", jpgicc's or tificc's to their built-in sRGB, perceptual as ours.
  RgbPicture Reference(const std::string& path, const std::string& options = "") {
    const bool jpeg = path.ends_with(".jpg"), lcms = options == "lcms";
    const std::string out = dir.File(!lcms ? "magick.ppm" : jpeg ? "lcms.jpg" : "lcms.tif");
    const std::string command =
        !lcms ? "convert '" + path + "' -auto-orient " + options + " -depth 8 -strip "
              : (jpeg ? "jpgicc -q 100 '" : "tificc '") + path + "' ";
    if (!Shell(command + out)) return {};
    return testing::DecodeWithImageMagick(out).value_or(RgbPicture{});
  }

  testing::TempDir dir;
  std::filesystem::path testdata;
  std::string photo = dir.File("photo.ppm");
};

TEST_F(ColourAndOrientation, ImportsAllEightOrientationsAsImageMagickShowsThem) {
  // Different densities across and down: 100 and 200 dpi.
  const std::string jpeg = dir.File("plain.jpg");
  ASSERT_TRUE(Shell("convert " + photo + " -units PixelsPerInch -density 100x200 " + jpeg));
  const char* names[] = {"",        "TopLeft",  "TopRight",    "BottomRight", "BottomLeft",
                         "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
  for (bool big_endian : {false, true}) {
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
      const std::string jpg = dir.File("turned.jpg"), tif = dir.File("turned.tif");
      AddMarkers(jpeg, jpg, 0xE1, {ExifBlock(orientation, big_endian)});
      // The big-endian TIFFs are gray, so both pixel sizes are turned.
      ASSERT_TRUE(Shell(std::string("convert ") + photo + " -endian " +
                        (big_endian ? "MSB -colorspace gray -type grayscale" : "LSB") +
                        " -orient " + names[orientation] + " " + tif));
      for (const std::string& file : {jpg, tif}) {
        SCOPED_TRACE(file + " " + std::to_string(orientation) + (big_endian ? " MM" : " II"));
        const Image transfer = Import(file);
        EXPECT_GE(Psnr(ToRgb(transfer), Reference(file)), 40);
        if (file == jpg) {
          const bool swapped = orientation >= 5;
          EXPECT_EQ(transfer.x_pixels_per_metre, swapped ? 7874u : 3937u);
          EXPECT_EQ(transfer.y_pixels_per_metre, swapped ? 3937u : 7874u);
        }
      }
    }
  }
}

// Pictures tagged by ImageMagick; two real-world ones (a 557 KB press profile
// in nine chunks, Adobe-inverted CMYK; an RGB one); and chunks stored last
// first, which only LittleCMS judges: ImageMagick joins them in file order.
TEST_F(ColourAndOrientation, ConvertsEmbeddedProfilesAsLittleCmsDoes) {
  const std::string cmyk = "-profile " + kSrgb + " -profile " + kCmyk;
  const std::string pro = "-profile " + kIcc + "colord/ProPhotoRGB.icc";
  const std::string gray = "-colorspace gray -profile " + kIcc + "Gray.icc";
  const std::string good = (testdata / "jpeg/good/ljtseed_testorig_").string();
  const std::pair<std::string, std::string> cases[] = {
      // clang-format off
      {pro, "pro.jpg"}, {"-depth 16 " + pro, "pro.tif"},
      {"-profile " + kIcc + "colord/AdobeRGB1998.icc", "adobe.tif"},
      {"-profile " + kIcc + "colord/WideGamutRGB.icc", "wide.jpg"},
      {gray, "gray.jpg"}, {"-depth 16 " + gray, "gray.tif"},
      {cmyk, "cmyk.jpg"}, {cmyk, "cmyk.tif"}, {"-depth 16 " + cmyk, "cmyk16.tif"},
      {"", good + "rot180_cmyk_411_q50_opt_rst1B_test1icc.jpg"},
      {"", good + "rgb_444_floatdct_q100_test3icc.jpg"},
      {"reversed", "reversed.jpg"}};
  // clang-format on
  for (const auto& [make, name] : cases) {
    SCOPED_TRACE(name);
    const bool made = !name.starts_with("/");
    const std::string file = made ? dir.File(name) : name;
    if (make == "reversed") {
      ASSERT_TRUE(Shell("convert " + photo + " " + cmyk + " -strip " + dir.File("plain.jpg")));
      auto chunks = IccChunks(testing::ReadBytes(kCmyk));
      std::reverse(chunks.begin(), chunks.end());
      AddMarkers(dir.File("plain.jpg"), file, 0xE2, chunks);
    } else if (made) {
      ASSERT_TRUE(Shell("convert " + photo + " " + make + " -quality 95 " + file));
    }
    const RgbPicture ours = ToRgb(Import(file));
    EXPECT_GE(Psnr(ours, Reference(file, "lcms")), 38);
    if (make == "reversed") continue;
    const RgbPicture magick = Reference(file, "-profile " + kSrgb);
    EXPECT_GE(Psnr(ours, magick), 38);
    // Without the profile the picture is far off.
    EXPECT_GE(Psnr(ours, magick), made ? Psnr(Reference(file, "+profile '*'"), magick) + 6 : 0);
  }
}

// Broken or unusable metadata never fails an import: one warning at most, and
// the picture exactly as it imports without that metadata.
TEST_F(ColourAndOrientation, ImportsAsStoredWithOneWarningWhenMetadataIsUnusable) {
  auto cut_exif = ExifBlock(6, false);
  cut_exif.resize(cut_exif.size() - 8);  // the directory ends inside its only entry
  auto far_exif = ExifBlock(6, true);
  far_exif[13] = 0x7F;  // IFD0 far beyond the block
  const auto cmyk_chunks = IccChunks(testing::ReadBytes(kCmyk));
  const std::vector<uint8_t> junk(200, 0x5A);
  // APP1 or APP2, its blocks, the warning expected ("": none)
  using Case = std::tuple<uint8_t, std::vector<std::vector<uint8_t>>, std::string>;
  const std::vector<Case> cases = {
      // clang-format off
      {0xE1, {cut_exif}, "EXIF data is broken"},
      {0xE1, {far_exif}, "EXIF data is broken"},
      {0xE1, {ExifBlock(0, false)}, ""},
      {0xE1, {ExifBlock(9, true)}, ""},
      {0xE1, {cut_exif, ExifBlock(1, false)}, "EXIF data is broken"},  // the first counts
      {0xE2, {cmyk_chunks[0], cmyk_chunks[2]}, "chunk 2 is missing"},
      {0xE2, {cmyk_chunks[0], cmyk_chunks[0]}, "comes twice"},
      {0xE2, IccChunks(junk), "cannot be read"},
      {0xE2, cmyk_chunks, "is for CMYK"},
      {0xE2, IccChunks(testing::ReadBytes(kSrgb)), ""}};  // sRGB: nothing to apply
  // clang-format on
  const std::string plain = dir.File("plain.jpg"), file = dir.File("broken.jpg");
  ASSERT_TRUE(Shell("convert " + photo + " -quality 95 " + plain));
  for (const auto& [marker, payloads, warning] : cases) {
    SCOPED_TRACE(warning);
    AddMarkers(plain, file, marker, payloads);
    Warnings warnings;
    Result<Image> image = LoadJpegFile(file, &warnings, nullptr);
    ASSERT_TRUE(image.ok()) << image.error().message();
    ASSERT_EQ(warnings.size(), warning.empty() ? 0u : 1u);
    if (!warning.empty()) {
      EXPECT_NE(warnings[0].find(warning), std::string::npos) << warnings[0];
      EXPECT_NE(warnings[0].find(file), std::string::npos) << warnings[0];
    }
    EXPECT_EQ(testing::Bytes(*image),
              testing::Bytes(LoadJpegFile(plain, nullptr, nullptr).value()));
  }
}

}  // namespace
}  // namespace zavo
