// Pictures through the host's files, and files that change under their reader.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/image_rows.h"
#include "imaging/imgkit_library.h"
#include "imaging/jpeg_codec.h"
#include "imaging/parallel_rows.h"
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
    for (uint32_t y = 0; y < 23; ++y)
      for (uint32_t x = 0; x < 37 * BytesPerPixel(format); ++x) picture.row(y)[x] = x + y * 2;
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
  testing::WriteText(picture, "BM");  // the refusal comes before anything is read
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
  }
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

using Loader = Result<Image> (*)(const std::string&, Warnings*, Progress*);
const std::string kCutShort = "another program cut the file short while it was being read: ";

// Cuts the file to nothing at the first rows, under a coder still reading it.
struct TruncatingProgress : Progress {
  explicit TruncatingProgress(std::string file) : path(std::move(file)) {}
  void Advance(uint64_t, uint64_t) override {
    EXPECT_TRUE(std::exchange(done, true) || ::truncate(path.c_str(), 0) == 0);
  }
  std::string path;
  bool done = false;
};

// A file that shrinks under the reader is an error naming the cause, never a
// SIGBUS nor a half-gray picture; an export that fails, on a full disk or
// with its transfer file cut short, leaves the old target and no scratch.
TEST(InputFiles, AFileCutShortWhileItIsReadFailsWithAMessage) {
  testing::TempDir dir;
  // Noise does not compress: the files are several times libjpeg's read piece.
  const Image picture = testing::Noise(1000, 1000, PixelFormat::Bgr24);
  const std::string jpeg = dir.File("a.jpg"), tiff = dir.File("a.tif"), bmp = dir.File("a.bmp");
  ASSERT_TRUE(SaveJpegFile(jpeg, picture, 95, false, nullptr));
  ASSERT_TRUE(SaveTiffFile(tiff, picture, false, nullptr));
  for (const auto& [path, load, format] :
       {std::tuple<std::string, Loader, std::string>{jpeg, LoadJpegFile, "JPEG: "},
        {tiff, LoadTiffFile, "TIFF: "}}) {
    // One thread: with more, the others may have read every piece by the first report.
    ScopedThreadCount one(1);
    TruncatingProgress progress(path);
    testing::ExpectFailure(load(path, nullptr, &progress), ErrorKind::Truncated, kCutShort + path,
                           "");
    // Now empty, it is refused as such.
    testing::ExpectFailure(load(path, nullptr, nullptr), ErrorKind::Truncated, format, path);
  }
  const std::string target = dir.File("out");
  const ScopedFileReadBytes bands(64 * 1024);
  for (const char* format : {"jpeg", "tiff", "bmp"}) {
    SCOPED_TRACE(format);
    testing::WriteText(target, "old");
    ASSERT_TRUE(SaveBmpFile(bmp, picture, nullptr));
    const Image image = LoadBmpFile(bmp, nullptr, nullptr).value();
    const auto save = [&, kind = std::string_view(format)](Progress* progress) {
      return kind == "jpeg"   ? SaveJpegFile(target, image, 90, false, progress)
             : kind == "tiff" ? SaveTiffFile(target, image, true, progress)
                              : SaveBmpFile(target, image, progress);
    };
    EXPECT_TRUE(testing::RunInChild([&] {
      testing::LimitFileSize(64 * 1024);  // noise compresses badly
      const Result<void> full = save(nullptr);
      testing::ExpectFailure(full, ErrorKind::Io, "", target);
      testing::ExpectFailure(full, ErrorKind::Io, "", "File too large");
    }));
    TruncatingProgress progress(bmp);
    testing::ExpectFailure(save(&progress), ErrorKind::Truncated, kCutShort + bmp, "");
    EXPECT_EQ(testing::ReadBytes(target), std::vector<uint8_t>({'o', 'l', 'd'}));
    EXPECT_EQ(testing::EntriesIn(dir.path()), 4u);  // the three inputs and the target
  }
  testing::ExpectFailure(LoadBmpFile(bmp, nullptr, nullptr), ErrorKind::Truncated, "BMP: ", bmp);
}

uint64_t StatusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field + ":")) return std::stoull(line.substr(field.size() + 1));
  }
  return 0;
}

// A picture followed by 3 GiB (a sparse file), decoded (JPEG, TIFF, a
// top-down BMP) or left in its file (a bottom-up BMP).
TEST(InputFiles, MemoryFollowsThePictureNotTheFile) {
#ifdef ZAVO_SANITIZED
  GTEST_SKIP() << "the sanitizers' own memory hides the codecs'";
#endif
  testing::TempDir dir;
  const Image picture = testing::Noise(3000, 2000, PixelFormat::Bgr24);
  const std::string jpeg = dir.File("tail.jpg"), bmp = dir.File("tail.bmp");
  const std::string tiff = dir.File("tail.tif"), top_down = dir.File("top-down.bmp");
  ASSERT_TRUE(SaveJpegFile(jpeg, picture, 90, false, nullptr));
  ASSERT_TRUE(SaveBmpFile(bmp, picture, nullptr));
  ASSERT_TRUE(SaveTiffFile(tiff, picture, false, nullptr));
  std::vector<uint8_t> flipped = testing::ReadBytes(bmp);
  for (int i = 0; i < 4; ++i) flipped[22 + i] = static_cast<uint8_t>(-2000 >> (8 * i));  // biHeight
  testing::WriteBytes(top_down, flipped);
  const std::pair<std::string, Loader> files[] = {
      {jpeg, LoadJpegFile}, {bmp, LoadBmpFile}, {top_down, LoadBmpFile}, {tiff, LoadTiffFile}};
  for (const auto& [path, load] : files) {
    SCOPED_TRACE(path);
    const auto size = static_cast<off_t>(std::filesystem::file_size(path));
    ASSERT_EQ(::truncate(path.c_str(), size + (off_t{3} << 30)), 0);
    testing::WriteText("/proc/self/clear_refs", "5");  // the peak is now what is held
    const uint64_t before = StatusKilobytes("VmRSS");
    EXPECT_TRUE(load(path, nullptr, nullptr).ok());
    EXPECT_LE((StatusKilobytes("VmHWM") - before) * 1024,
              picture.size_bytes() * 11 / 10 + (16 << 20));
    EXPECT_TRUE(testing::RunInChild([&] {
      const rlimit limit{2'000'000'000, 2'000'000'000};  // address space
      ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);
      EXPECT_TRUE(load(path, nullptr, nullptr).ok());
    }));
  }
}

}  // namespace
}  // namespace zavo
