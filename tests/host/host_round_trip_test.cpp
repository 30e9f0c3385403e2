#include <gtest/gtest.h>

#include <filesystem>

#include "host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/image_rows.h"
#include "imaging/imgkit_library.h"
#include "imaging/jpeg_codec.h"
#include "imaging/tiff/tiff_codec.h"
#include "support/fakes.h"
#include "support/image_support.h"

namespace zavo {
namespace {

// Host BMP -> export -> import -> transfer BMP; odd widths, so row padding
// and channel order both matter.
TEST(HostRoundTrip, GivesBackThePictureAndItsResolution) {
  testing::TempDir dir;
  testing::RecordingMessageBoxes boxes;
  LibraryImgKit imgkit{boxes, nullptr, LinkedTiffCodec};
  const std::string host = dir.File("host.bmp"), transfer = dir.File("back.bmp");
  for (const auto& [format, jpeg, parameter, tolerance] :
       {std::tuple{PixelFormat::Bgr24, false, 0, 0},
        {PixelFormat::Gray8, false, 1, 0},
        {PixelFormat::Bgr24, true, 95, 12}}) {
    SCOPED_TRACE(::testing::Message() << jpeg << " " << parameter);
    Image picture = Image::Create(37, 23, format, "smooth").value();
    for (uint32_t y = 0; y < 23; ++y) {
      for (uint32_t x = 0; x < 37 * BytesPerPixel(format); ++x) picture.row(y)[x] = x + y * 2;
    }
    picture.x_pixels_per_metre = picture.y_pixels_per_metre = 11811;  // 300 dpi
    const std::string target = dir.File(jpeg ? "out.jpg" : "out.tif");
    ASSERT_TRUE(SaveBmpFile(host, picture, nullptr));
    jpeg ? ExportJpeg(imgkit, boxes, host, target, int16_t(parameter), 0)
         : ExportTiff(imgkit, boxes, host, target, int16_t(parameter));
    EXPECT_TRUE(ImportForHost(imgkit, boxes, jpeg ? kFormatJpeg : kFormatTiff, target, transfer));
    const Image back = LoadBmpFile(transfer, nullptr, nullptr).value();
    EXPECT_EQ(back.format(), format);
    EXPECT_LE(testing::MaxChannelDifference(testing::ToRgb(back), testing::ToRgb(picture)),
              tolerance);
    EXPECT_EQ(back.x_pixels_per_metre, 11811u);
  }
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(imgkit.image_count(), 0u);  // every handle freed
}

// Writing the file being read, by another path, would replace the only copy.
TEST(HostExchange, RefusesATargetThatIsTheFileBeingRead) {
  testing::TempDir dir;
  const std::string picture = dir.File("picture.bmp");
  ASSERT_TRUE(SaveBmpFile(picture, testing::Noise(5, 3, PixelFormat::Bgr24), nullptr));
  const std::vector<uint8_t> original = testing::ReadBytes(picture);
  std::filesystem::create_symlink("picture.bmp", dir.File("symlink"));
  std::filesystem::create_hard_link(picture, dir.File("hard link"));
  for (const std::string name : {"symlink", "hard link", "./picture.bmp"}) {
    const std::string to = dir.File(name);
    SCOPED_TRACE(to);
    testing::RecordingMessageBoxes boxes;
    testing::RecordingImgKit kit;
    if (name == "hard link") ExportJpeg(kit, boxes, picture, to, 75, 0);
    if (name == "./picture.bmp") ExportTiff(kit, boxes, picture, to, 0);
    EXPECT_FALSE(name == "symlink" && ImportForHost(kit, boxes, kFormatJpeg, picture, to));
    EXPECT_TRUE(kit.calls.empty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("保存に失敗しました。\ncannot write " + to +
                                       ": it is the same file"),
              std::string::npos)
        << boxes.shown[0].text;
    EXPECT_EQ(testing::ReadBytes(picture), original);
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("symlink")));
  EXPECT_EQ(testing::EntriesIn(dir.path()), 3u);  // no scratch file
}

// A picture in the transfer file's own layout stays in its file; read in
// bands of one row and of five, it is written as from memory.
TEST(BmpReader, LeavesRowsInTheFileAndWritesThemAsFromMemory) {
  testing::TempDir dir;
  const std::string transfer = dir.File("in.bmp"), ours = dir.File("a"), theirs = dir.File("b");
  const auto write = [](int writer, const std::string& path, const Image& image) {
    return writer == 0   ? SaveBmpFile(path, image, nullptr)
           : writer == 1 ? SaveTiffFile(path, image, false, nullptr)
                         : SaveJpegFile(path, image, 100, true, nullptr);
  };
  // Each picture left in its file closes it when dropped.
  const size_t descriptors = testing::EntriesIn("/proc/self/fd");
  for (const PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    Image picture = testing::Noise(37, 23, format);
    ASSERT_TRUE(SaveBmpFile(transfer, picture, nullptr));
    Image loaded = LoadBmpFile(transfer, nullptr, nullptr).value();
    ASSERT_FALSE(loaded.in_memory());
    for (const size_t band_bytes : {size_t{1}, 5 * picture.stride()}) {
      const ScopedFileReadBytes bands(band_bytes);
      for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
        picture.orientation = loaded.orientation = orientation;
        for (int writer = 0; writer < 3; ++writer) {
          SCOPED_TRACE(::testing::Message()
                       << "format " << int(format) << ", band " << band_bytes << ", orientation "
                       << orientation << ", writer " << writer);
          ASSERT_TRUE(write(writer, ours, picture));
          ASSERT_TRUE(write(writer, theirs, loaded));
          EXPECT_EQ(testing::ReadBytes(ours), testing::ReadBytes(theirs));
        }
      }
    }
  }
  EXPECT_EQ(testing::EntriesIn("/proc/self/fd"), descriptors);
}

}  // namespace
}  // namespace zavo
