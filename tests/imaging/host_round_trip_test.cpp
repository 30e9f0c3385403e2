// The host's picture out through the exports and back in through the import,
// on the real imaging library.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <vector>

#include "app/host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/imgkit_library.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

// A picture with detail in every channel and an odd width, so row padding
// and channel order both matter.
Image Pattern(PixelFormat format) {
  Image image = Image::Create(37, 23, format, "pattern").value();
  for (uint32_t y = 0; y < image.height(); ++y) {
    uint8_t* row = image.row(y);
    for (uint32_t x = 0; x < image.width() * BytesPerPixel(format); ++x) {
      row[x] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x * y));
    }
  }
  image.x_pixels_per_metre = image.y_pixels_per_metre = 11811;  // 300 dpi
  return image;
}

class HostRoundTrip : public ::testing::Test {
 protected:
  // Host BMP -> export -> import -> transfer BMP, as the host would see it.
  Image Trip(const Image& picture, bool jpeg, int16_t parameter) {
    const std::string host_bmp = dir.File("host.bmp");
    const std::string target = dir.File(jpeg ? "out.jpg" : "out.tif");
    const std::string back = dir.File("back.bmp");
    EXPECT_TRUE(SaveBmpFile(host_bmp, picture, nullptr));
    if (jpeg) {
      ExportJpeg(imgkit, boxes, host_bmp, target, parameter, 0);
    } else {
      ExportTiff(imgkit, boxes, host_bmp, target, parameter);
    }
    EXPECT_TRUE(ImportForHost(imgkit, boxes, jpeg ? kFormatJpeg : kFormatTiff, target, back));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(imgkit.image_count(), 0u);  // every handle freed
    return LoadBmpFile(back, nullptr, nullptr).value();
  }

  testing::TempDir dir;
  testing::RecordingMessageBoxes boxes;
  LibraryImgKit imgkit{boxes};
};

TEST_F(HostRoundTrip, TiffGivesBackTheSamePixelsWithOrWithoutPackBits) {
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    for (int16_t compression : {0, 1}) {
      const Image picture = Pattern(format);
      const Image back = Trip(picture, false, compression);
      ASSERT_EQ(back.format(), format);
      EXPECT_EQ(std::vector<uint8_t>(back.data(), back.data() + back.size_bytes()),
                std::vector<uint8_t>(picture.data(), picture.data() + picture.size_bytes()));
      EXPECT_EQ(back.x_pixels_per_metre, 11811u);
    }
  }
}

TEST_F(HostRoundTrip, JpegGivesBackAClosePictureAndItsResolution) {
  Image picture = Image::Create(64, 48, PixelFormat::Bgr24, "smooth").value();
  for (uint32_t y = 0; y < 48; ++y) {
    for (uint32_t x = 0; x < 64; ++x) {
      uint8_t* pixel = picture.row(y) + 3 * x;
      pixel[0] = static_cast<uint8_t>(x * 4);
      pixel[1] = static_cast<uint8_t>(y * 5);
      pixel[2] = static_cast<uint8_t>(128 + x - y);
    }
  }
  picture.x_pixels_per_metre = picture.y_pixels_per_metre = 3780;  // 96 dpi
  const Image back = Trip(picture, true, 95);
  EXPECT_LE(testing::MaxChannelDifference(testing::ToRgb(back), testing::ToRgb(picture)), 12);
  EXPECT_EQ(back.x_pixels_per_metre, 3780u);
}

TEST(HostExchange, AMissingTransferFileIsReportedOnceAndTheTargetKept) {
  testing::TempDir dir;
  testing::RecordingMessageBoxes boxes;
  LibraryImgKit imgkit{boxes};
  testing::WriteText(dir.File("out.jpg"), "the user's old picture");
  ExportJpeg(imgkit, boxes, dir.File("missing.bmp"), dir.File("out.jpg"), 75, 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "Plumio File ADD_In");
  EXPECT_NE(boxes.shown[0].text.find("missing.bmp"), std::string::npos);
  EXPECT_EQ(testing::ReadText(dir.File("out.jpg")), "the user's old picture");
}

TEST(HostExchange, AFailedSaveNamesTheTargetAndLeavesNoScratchFile) {
  testing::TempDir dir;
  testing::RecordingMessageBoxes boxes;
  LibraryImgKit imgkit{boxes};
  ASSERT_TRUE(SaveBmpFile(dir.File("host.bmp"), Pattern(PixelFormat::Bgr24), nullptr));
  const std::string target = dir.File("no such folder/out.tif");
  ExportTiff(imgkit, boxes, dir.File("host.bmp"), target, 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "ZAVO32");  // the exports pass no caption
  EXPECT_EQ(boxes.shown[0].text.rfind("保存に失敗しました。\n", 0), 0u);
  EXPECT_NE(boxes.shown[0].text.find(target), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Writing the file being read would replace the only copy of the picture.
TEST(HostExchange, RefusesToWriteTheFileItReadsByAnyPath) {
  testing::TempDir dir;
  const std::string picture = dir.File("picture.bmp");
  ASSERT_TRUE(SaveBmpFile(picture, Pattern(PixelFormat::Bgr24), nullptr));
  const std::vector<uint8_t> original = testing::ReadBytes(picture);
  std::filesystem::create_symlink("picture.bmp", dir.File("symlink"));
  std::filesystem::create_hard_link(picture, dir.File("hard link"));
  const std::string dotted = dir.File("./picture.bmp");
  using Run = std::function<void(ImgKit&, MessageBoxes&, const std::string&)>;
  const std::vector<Run> runs = {
      [&](ImgKit& k, MessageBoxes& b, const std::string& to) {
        EXPECT_FALSE(ImportForHost(k, b, kFormatJpeg, picture, to));
      },
      [&](ImgKit& k, MessageBoxes& b, const std::string& to) {
        ExportJpeg(k, b, picture, to, 75, 0);
      },
      [&](ImgKit& k, MessageBoxes& b, const std::string& to) { ExportTiff(k, b, picture, to, 0); },
  };
  for (const Run& run : runs) {
    for (const std::string& other : {dir.File("symlink"), dir.File("hard link"), dotted}) {
      SCOPED_TRACE(other);
      testing::RecordingMessageBoxes boxes;
      testing::RecordingImgKit imgkit;
      run(imgkit, boxes, other);
      EXPECT_TRUE(imgkit.calls.empty());  // refused before anything is loaded
      ASSERT_EQ(boxes.shown.size(), 1u);
      EXPECT_EQ(boxes.shown[0].text.rfind("保存に失敗しました。\n", 0), 0u);
      EXPECT_NE(boxes.shown[0].text.find(other), std::string::npos);
      EXPECT_EQ(testing::ReadBytes(picture), original);
    }
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("symlink")));
}

}  // namespace
}  // namespace zavo
