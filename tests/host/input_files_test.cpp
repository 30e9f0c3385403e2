#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "imaging/bmp_codec.h"
#include "imaging/image_rows.h"
#include "imaging/jpeg_codec.h"
#include "imaging/parallel_rows.h"
#include "imaging/tiff/tiff_codec.h"
#include "support/image_support.h"

namespace zavo {
namespace {

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
  for (const auto& [path, load] :
       {std::pair<std::string, Loader>{jpeg, LoadJpegFile}, {tiff, LoadTiffFile}}) {
    // One thread: with more, the others may have read every piece by the first report.
    ScopedThreadCount one(1);
    TruncatingProgress progress(path);
    testing::ExpectFailure(load(path, nullptr, &progress), ErrorKind::Truncated, kCutShort + path,
                           "");
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
}

TEST(InputFiles, AnEmptyFileIsRefusedWithAMessage) {
  testing::TempDir dir;
  const std::string path = dir.File("empty");
  testing::WriteText(path, "");
  for (const auto& [load, format] : {std::pair<Loader, std::string>{LoadJpegFile, "JPEG: "},
                                     {LoadTiffFile, "TIFF: "},
                                     {LoadBmpFile, "BMP: "}}) {
    testing::ExpectFailure(load(path, nullptr, nullptr), ErrorKind::Truncated, format, path);
  }
}

uint64_t StatusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
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
  for (const auto& [path, load] : {std::pair<std::string, Loader>{jpeg, LoadJpegFile},
                                   {bmp, LoadBmpFile},
                                   {top_down, LoadBmpFile},
                                   {tiff, LoadTiffFile}}) {
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
