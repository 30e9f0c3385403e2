// Pictures imported the right way up and in the right colours, held by PSNR
// to tools that are not ours: ImageMagick (-auto-orient, -profile through
// LittleCMS) and LittleCMS's own jpgicc and tificc. The test pictures are
// made here from a photograph in the shared test images.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "app/host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/colour_transform.h"
#include "imaging/imgkit_library.h"
#include "imaging/jpeg_codec.h"
#include "imaging/tiff_codec.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using testing::Psnr;
using testing::RgbPicture;
using testing::RunCommand;
using testing::TempDir;

const std::string kIcc = "/usr/share/color/icc/";
const std::string kSrgb = kIcc + "colord/sRGB.icc";

bool Shell(const std::string& command) { return RunCommand(command + " >/dev/null 2>&1") == 0; }

// An APP1 block of EXIF data whose first directory holds only the orientation.
std::vector<uint8_t> ExifBlock(uint16_t orientation, bool big_endian) {
  std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
  const auto put = [&](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      out.push_back(static_cast<uint8_t>(value >> 8 * (big_endian ? bytes - 1 - i : i)));
    }
  };
  out.push_back(big_endian ? 'M' : 'I');
  out.push_back(big_endian ? 'M' : 'I');
  put(42, 2);           // TIFF magic
  put(8, 4);            // offset of IFD0
  put(1, 2);            // one entry
  put(0x0112, 2);       // Orientation
  put(3, 2);            // SHORT
  put(1, 4);            // count
  put(orientation, 2);  // the value, padded to four bytes
  put(0, 2);
  put(0, 4);  // no next directory
  return out;
}

// ICC_PROFILE chunks of `profile`, `piece` bytes at most each.
std::vector<std::vector<uint8_t>> IccChunks(const std::vector<uint8_t>& profile, size_t piece) {
  std::vector<std::vector<uint8_t>> chunks;
  const size_t count = (profile.size() + piece - 1) / piece;
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> chunk = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    chunk.push_back(static_cast<uint8_t>(i + 1));
    chunk.push_back(static_cast<uint8_t>(count));
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

// Puts `profile` into tag 34675 of an existing TIFF file.
void SetTiffProfile(const std::string& path, const std::vector<uint8_t>& profile) {
  TIFF* tif = TIFFOpen(path.c_str(), "r+");
  ASSERT_NE(tif, nullptr);
  EXPECT_TRUE(
      TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(profile.size()), profile.data()));
  EXPECT_TRUE(TIFFRewriteDirectory(tif));
  TIFFClose(tif);
}

class ColourAndOrientation : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVO_REQUIRE_TESTDATA(data);
    testdata = data;
    // A photograph of odd width and height, so every row has BMP padding.
    photo = dir.File("photo.ppm");
    ASSERT_TRUE(Shell("convert '" + (testdata / "jpeg/good/testorig.jpg").string() + "' " + photo));
  }

  // The transfer file the import writes, as the host would read it.
  RgbPicture Import(const std::string& path, Image* transfer = nullptr) {
    testing::RecordingMessageBoxes boxes;
    LibraryImgKit imgkit(boxes);
    const bool jpeg = path.ends_with(".jpg");
    const std::string bmp = dir.File("transfer.bmp");
    std::filesystem::remove(bmp);
    EXPECT_TRUE(ImportForHost(imgkit, boxes, jpeg ? kFormatJpeg : kFormatTiff, path, bmp));
    Result<Image> image = LoadBmpFile(bmp, nullptr, nullptr);
    if (!image) return {};
    if (transfer != nullptr) *transfer = std::move(image).value();
    return testing::ToRgb(transfer != nullptr ? *transfer : *image);
  }

  // ImageMagick's rendering after `options` ("-profile sRGB.icc").
  RgbPicture Magick(const std::string& path, const std::string& options = "") {
    const std::string ppm = dir.File("magick.ppm");
    if (!Shell("convert '" + path + "' -auto-orient " + options + " -depth 8 -strip " + ppm)) {
      return {};
    }
    return testing::DecodeWithImageMagick(ppm).value_or(RgbPicture{});
  }

  // jpgicc or tificc to their built-in sRGB: perceptual, as we convert.
  RgbPicture LittleCms(const std::string& path) {
    const bool jpeg = path.ends_with(".jpg");
    const std::string out = dir.File(jpeg ? "lcms.jpg" : "lcms.tif");
    const std::string tool = jpeg ? "jpgicc -q 100 " : "tificc ";
    if (!Shell(tool + "'" + path + "' " + out)) return {};
    return testing::DecodeWithImageMagick(out).value_or(RgbPicture{});
  }

  TempDir dir;
  std::filesystem::path testdata;
  std::string photo;
};

TEST_F(ColourAndOrientation, ImportsAllEightOrientationsAsImageMagickShowsThem) {
  // The JPEG is written by us, with different densities across and down.
  ASSERT_TRUE(Shell("convert " + photo + " BMP3:" + dir.File("photo.bmp")));
  Image source = LoadBmpFile(dir.File("photo.bmp"), nullptr, nullptr).value();
  source.x_pixels_per_metre = 3937;
  source.y_pixels_per_metre = 7874;
  const std::string jpeg = dir.File("plain.jpg");
  ASSERT_TRUE(SaveJpegFile(jpeg, source, 95, false, nullptr));
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
        SCOPED_TRACE(file + " orientation " + std::to_string(orientation) +
                     (big_endian ? " big-endian" : " little-endian"));
        Image transfer;
        EXPECT_GE(Psnr(Import(file, &transfer), Magick(file)), 40);
        if (file == jpg) {
          const bool swapped = orientation >= 5;
          EXPECT_EQ(transfer.x_pixels_per_metre, swapped ? 7874u : 3937u);
          EXPECT_EQ(transfer.y_pixels_per_metre, swapped ? 3937u : 7874u);
        }
      }
    }
  }
}

TEST_F(ColourAndOrientation, SavesATurnedPictureUpright) {
  const std::string plain = dir.File("plain.jpg"), turned = dir.File("turned.jpg");
  ASSERT_TRUE(Shell("convert " + photo + " -quality 95 " + plain));
  AddMarkers(plain, turned, 0xE1, {ExifBlock(6, false)});
  testing::RecordingMessageBoxes boxes;
  LibraryImgKit imgkit(boxes);
  const ImageHandle image = imgkit.ImgKitJpegFileLoad(turned, "", "", 0);
  ASSERT_NE(image, 0);
  EXPECT_EQ(imgkit.ImgKitTiffFileSave(dir.File("saved.tif"), image, "", "", kImgKitTiffNone), 0);
  EXPECT_EQ(Psnr(Magick(dir.File("saved.tif")), Magick(turned)),
            std::numeric_limits<double>::infinity());
}

struct ProfileCase {
  std::string name;
  std::string make;  // ImageMagick options that make the tagged picture from the photo
  std::string file;  // its name: .jpg or .tif
};

TEST_F(ColourAndOrientation, ConvertsEmbeddedProfilesAsLittleCmsDoes) {
  const std::string cmyk =
      "-profile " + kSrgb + " -profile " + kIcc + "ghostscript/default_cmyk.icc";
  const std::vector<ProfileCase> cases = {
      {"ProPhoto", "-profile " + kIcc + "colord/ProPhotoRGB.icc", "pro.jpg"},
      {"ProPhoto, 16 bits", "-depth 16 -profile " + kIcc + "colord/ProPhotoRGB.icc", "pro.tif"},
      {"Adobe RGB", "-profile " + kIcc + "colord/AdobeRGB1998.icc", "adobe.tif"},
      {"Wide Gamut", "-profile " + kIcc + "colord/WideGamutRGB.icc", "wide.jpg"},
      {"gray", "-colorspace gray -profile " + kIcc + "Gray.icc", "gray.jpg"},
      {"gray, 16 bits", "-colorspace gray -depth 16 -profile " + kIcc + "Gray.icc", "gray.tif"},
      {"CMYK (Adobe's inverted ink)", cmyk, "cmyk.jpg"},
      {"CMYK", cmyk, "cmyk.tif"},
      {"CMYK, 16 bits", "-depth 16 " + cmyk, "cmyk16.tif"},
  };
  for (const ProfileCase& c : cases) {
    SCOPED_TRACE(c.name + ": " + c.file);
    const std::string file = dir.File(c.file);
    ASSERT_TRUE(Shell("convert " + photo + " " + c.make + " -quality 95 " + file));
    const RgbPicture ours = Import(file);
    const RgbPicture magick = Magick(file, "-profile " + kSrgb);
    EXPECT_GE(Psnr(ours, magick), 38);
    EXPECT_GE(Psnr(ours, LittleCms(file)), 38);
    // Without the profile the picture is far off.
    EXPECT_GE(Psnr(ours, magick), Psnr(Magick(file, "+profile '*'"), magick) + 6);
  }
}

TEST_F(ColourAndOrientation, ConvertsRealWorldProfilesAndChunksInAnyOrder) {
  // A 557 KB press profile in nine chunks, Adobe-inverted CMYK; and an RGB one.
  const std::string cmyk =
      (testdata / "jpeg/good/ljtseed_testorig_rot180_cmyk_411_q50_opt_rst1B_test1icc.jpg").string();
  const std::string rgb =
      (testdata / "jpeg/good/ljtseed_testorig_rgb_444_floatdct_q100_test3icc.jpg").string();
  // The same profile split into chunks stored last first.
  const std::string reversed = dir.File("reversed.jpg");
  ASSERT_TRUE(Shell("convert " + photo + " -profile " + kSrgb + " -profile " + kIcc +
                    "ghostscript/default_cmyk.icc -strip " + dir.File("plain.jpg")));
  auto chunks = IccChunks(testing::ReadBytes(kIcc + "ghostscript/default_cmyk.icc"), 60000);
  std::reverse(chunks.begin(), chunks.end());
  AddMarkers(dir.File("plain.jpg"), reversed, 0xE2, chunks);
  for (const std::string& file : {cmyk, rgb, reversed}) {
    SCOPED_TRACE(file);
    const RgbPicture ours = Import(file);
    EXPECT_GE(Psnr(ours, LittleCms(file)), 38);
    // ImageMagick joins the chunks in file order, so only LittleCMS judges those.
    if (file != reversed) {
      EXPECT_GE(Psnr(ours, Magick(file, "-profile " + kSrgb)), 38);
    }
  }
}

// Broken or unusable metadata never fails an import: one warning at most, and
// the picture exactly as it imports without that metadata.
TEST_F(ColourAndOrientation, ImportsAsStoredWithOneWarningWhenMetadataIsUnusable) {
  const std::vector<uint8_t> cmyk = testing::ReadBytes(kIcc + "ghostscript/default_cmyk.icc");
  auto cut_exif = ExifBlock(6, false);
  cut_exif.resize(cut_exif.size() - 8);  // the directory ends inside its only entry
  auto far_exif = ExifBlock(6, true);
  far_exif[13] = 0x7F;  // IFD0 far beyond the block
  const auto cmyk_chunks = IccChunks(cmyk, 60000);
  struct Case {
    std::string name;
    uint8_t marker;                              // APP1 or APP2; 0: a TIFF
    std::vector<std::vector<uint8_t>> payloads;  // the markers, or the TIFF's profile
    std::string warning;                         // the warning expected, or "" for none
  };
  const std::vector<Case> cases = {
      {"EXIF cut short", 0xE1, {cut_exif}, "EXIF data is broken"},
      {"EXIF pointing outside itself", 0xE1, {far_exif}, "EXIF data is broken"},
      {"orientation 0", 0xE1, {ExifBlock(0, false)}, ""},
      {"orientation 9", 0xE1, {ExifBlock(9, true)}, ""},
      {"a second EXIF block: the first counts",
       0xE1,
       {cut_exif, ExifBlock(1, false)},
       "EXIF data is broken"},
      {"an ICC chunk missing", 0xE2, {cmyk_chunks[0], cmyk_chunks[2]}, "chunk 2 is missing"},
      {"an ICC chunk repeated", 0xE2, {cmyk_chunks[0], cmyk_chunks[0]}, "comes twice"},
      {"a profile LittleCMS cannot read", 0xE2, IccChunks(std::vector<uint8_t>(200, 0x5A), 60000),
       "cannot be read"},
      {"a CMYK profile on RGB", 0xE2, cmyk_chunks, "is for CMYK"},
      {"an sRGB profile, not applied", 0xE2, IccChunks(testing::ReadBytes(kSrgb), 60000), ""},
      {"TIFF: a profile LittleCMS cannot read",
       0,
       {std::vector<uint8_t>(200, 0x5A)},
       "cannot be read"},
      {"TIFF: a gray profile on RGB", 0, {testing::ReadBytes(kIcc + "Gray.icc")}, "is for gray"},
  };
  const std::string plain_jpg = dir.File("plain.jpg"), plain_tif = dir.File("plain.tif");
  ASSERT_TRUE(Shell("convert " + photo + " -quality 95 " + plain_jpg));
  ASSERT_TRUE(Shell("convert " + photo + " " + plain_tif));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File(c.marker != 0 ? "broken.jpg" : "broken.tif");
    if (c.marker != 0) {
      AddMarkers(plain_jpg, file, c.marker, c.payloads);
    } else {
      std::filesystem::copy_file(plain_tif, file,
                                 std::filesystem::copy_options::overwrite_existing);
      SetTiffProfile(file, c.payloads[0]);
    }
    const auto load = c.marker != 0 ? LoadJpegFile : LoadTiffFile;
    Warnings warnings;
    Result<Image> image = load(file, &warnings, nullptr);
    ASSERT_TRUE(image.ok()) << image.error().message();
    ASSERT_EQ(warnings.size(), c.warning.empty() ? 0u : 1u);
    if (!c.warning.empty()) {
      EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
      EXPECT_NE(warnings[0].find(file), std::string::npos) << warnings[0];
    }
    const Image plain = load(c.marker != 0 ? plain_jpg : plain_tif, nullptr, nullptr).value();
    EXPECT_EQ(testing::Bytes(*image), testing::Bytes(plain));
  }
}

// The conversion of a large picture is split across threads; each row must
// come out as a conversion of that row alone would make it.
TEST(ColourTransform, ConvertsAPictureOnAllCoresAsRowByRow) {
  const auto prepared =
      PrepareToSrgb(testing::ReadBytes(kIcc + "colord/ProPhotoRGB.icc"), DevicePixels::Bgr8);
  ASSERT_TRUE(prepared.transform) << prepared.problem;
  Image picture = Image::Create(1501, 997, PixelFormat::Bgr24, "test").value();
  for (uint32_t y = 0; y < picture.height(); ++y) {
    for (uint32_t x = 0; x < picture.width() * 3; ++x) {
      picture.row(y)[x] = static_cast<uint8_t>(x * 7 + y * 13 + (x * y >> 5));
    }
  }
  std::vector<uint8_t> expected(picture.size_bytes());
  for (uint32_t y = 0; y < picture.height(); ++y) {
    prepared.transform->Convert(picture.row(y), expected.data() + (picture.row(y) - picture.data()),
                                picture.width());
  }
  prepared.transform->ConvertPicture(&picture);
  for (uint32_t y = 0; y < picture.height(); ++y) {
    const size_t at = static_cast<size_t>(picture.row(y) - picture.data());
    ASSERT_EQ(0, std::memcmp(picture.row(y), expected.data() + at, picture.width() * 3)) << y;
  }
}

}  // namespace
}  // namespace zavo
