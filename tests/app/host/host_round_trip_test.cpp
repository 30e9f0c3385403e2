// The host's picture out through the exports and back in through the import,
// on the real imaging library.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/imgkit_library.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

class HostRoundTrip : public ::testing::Test {
 protected:
  // Host BMP -> export -> import -> transfer BMP, as the host would see it.
  Image Trip(const Image& picture, bool jpeg, int16_t parameter) {
    const std::string host = dir.File("host.bmp"), back = dir.File("back.bmp");
    const std::string target = dir.File(jpeg ? "out.jpg" : "out.tif");
    EXPECT_TRUE(SaveBmpFile(host, picture, nullptr));
    if (jpeg) ExportJpeg(imgkit, boxes, host, target, parameter, 0);
    if (!jpeg) ExportTiff(imgkit, boxes, host, target, parameter);
    EXPECT_TRUE(ImportForHost(imgkit, boxes, jpeg ? kFormatJpeg : kFormatTiff, target, back));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(imgkit.image_count(), 0u);  // every handle freed
    return LoadBmpFile(back, nullptr, nullptr).value();
  }

  testing::TempDir dir;
  testing::RecordingMessageBoxes boxes;
  LibraryImgKit imgkit{boxes};
};

// Odd widths, so row padding and channel order both matter; TIFF exactly,
// with or without PackBits, JPEG closely; the resolution both ways.
TEST_F(HostRoundTrip, GivesBackThePictureAndItsResolution) {
  for (const auto& [format, jpeg, parameter, tolerance] :
       {std::tuple{PixelFormat::Bgr24, false, 0, 0},
        {PixelFormat::Bgr24, false, 1, 0},
        {PixelFormat::Gray8, false, 0, 0},
        {PixelFormat::Gray8, false, 1, 0},
        {PixelFormat::Bgr24, true, 95, 12}}) {
    SCOPED_TRACE(::testing::Message() << jpeg << " " << parameter);
    Image picture = Image::Create(37, 23, format, "smooth").value();
    for (uint32_t y = 0; y < 23; ++y) {
      for (uint32_t x = 0; x < 37 * BytesPerPixel(format); ++x) {
        picture.row(y)[x] = static_cast<uint8_t>(jpeg ? x + y * 2 : (x * 7 + y * 13) ^ (x * y));
      }
    }
    picture.x_pixels_per_metre = picture.y_pixels_per_metre = 11811;  // 300 dpi
    const Image back = Trip(picture, jpeg, int16_t(parameter));
    EXPECT_EQ(back.format(), format);
    EXPECT_LE(testing::MaxChannelDifference(testing::ToRgb(back), testing::ToRgb(picture)),
              tolerance);
    EXPECT_EQ(back.x_pixels_per_metre, 11811u);
  }
}

// A missing transfer file, a target in no folder, and a target that is the
// file being read by another path (writing it would replace the only copy of
// the picture): one message box naming the file, the files left as they were.
TEST(HostExchange, ReportsFailuresOnceAndKeepsTheFiles) {
  testing::TempDir dir;
  const std::string picture = dir.File("picture.bmp"), old = dir.File("old.jpg");
  ASSERT_TRUE(SaveBmpFile(picture, testing::Noise(5, 3, PixelFormat::Bgr24), nullptr));
  const std::vector<uint8_t> original = testing::ReadBytes(picture);
  testing::WriteText(old, "old");
  std::filesystem::create_symlink("picture.bmp", dir.File("symlink"));
  std::filesystem::create_hard_link(picture, dir.File("hard link"));
  using Run = std::function<void(ImgKit&, MessageBoxes&, const std::string&)>;
  const Run jpeg = [&](ImgKit& k, MessageBoxes& b, const std::string& to) {
    ExportJpeg(k, b, picture, to, 75, 0);
  };
  const Run tiff = [&](ImgKit& k, MessageBoxes& b, const std::string& to) {
    ExportTiff(k, b, picture, to, 0);
  };
  const Run import = [&](ImgKit& k, MessageBoxes& b, const std::string& to) {
    EXPECT_FALSE(ImportForHost(k, b, kFormatJpeg, picture, to));
  };
  const Run missing = [&](ImgKit& k, MessageBoxes& b, const std::string& to) {
    ExportJpeg(k, b, dir.File("missing.bmp"), to, 75, 0);
  };
  const std::string folderless = dir.File("no such folder/out.tif");
  const std::tuple<Run, std::string, std::string, std::string> cases[] = {
      {missing, old, "Plumio File ADD_In", "missing.bmp"},
      {tiff, folderless, "ZAVO32", "保存に失敗しました。\n"},  // the exports pass no caption
      {import, dir.File("symlink"), "", "保存に失敗しました。\n"},
      {jpeg, dir.File("hard link"), "", "保存に失敗しました。\n"},
      {tiff, dir.File("./picture.bmp"), "", "保存に失敗しました。\n"},
  };
  for (const auto& [run, target, title, words] : cases) {
    SCOPED_TRACE(target);
    testing::RecordingMessageBoxes boxes;
    LibraryImgKit library{boxes};
    testing::RecordingImgKit recorder;  // a refusal comes before anything is loaded
    run(title.empty() ? static_cast<ImgKit&>(recorder) : library, boxes, target);
    EXPECT_TRUE(recorder.calls.empty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(title.empty() || boxes.shown[0].title == title) << boxes.shown[0].title;
    EXPECT_NE(boxes.shown[0].text.find(words), std::string::npos) << boxes.shown[0].text;
    EXPECT_NE(boxes.shown[0].text.find(target == old ? "missing.bmp" : target), std::string::npos);
    EXPECT_EQ(testing::ReadBytes(picture), original);
  }
  EXPECT_EQ(testing::ReadText(old), "old");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("symlink")));
  EXPECT_EQ(testing::EntriesIn(dir.path()), 4u);  // no scratch file
}

}  // namespace
}  // namespace zavo
