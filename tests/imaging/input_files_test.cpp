// The loaders and the exports against the files they are given: one cut
// short by another program while it is read, one with gigabytes after the
// picture, and what an export holds in memory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

#include "app/host/host_exchange.h"
#include "imaging/bmp_codec.h"
#include "imaging/imgkit_library.h"
#include "imaging/jpeg_codec.h"
#include "imaging/tiff_codec.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using testing::TempDir;

using Loader = Result<Image> (*)(const std::string&, Warnings*, Progress*);

// Noise does not compress: the files are several times libjpeg's read piece.
Image Noise(uint32_t width, uint32_t height) {
  Image image = Image::Create(width, height, PixelFormat::Bgr24, "test").value();
  uint32_t state = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width * 3; ++x) {
      state = state * 1103515245 + 12345;
      image.row(y)[x] = static_cast<uint8_t>(state >> 24);
    }
  }
  return image;
}

// Cuts the file to nothing when the decoder reports its first rows: the rest
// of the file vanishes under a decoder that is still reading it.
class TruncatingProgress : public Progress {
 public:
  explicit TruncatingProgress(std::string path) : path_(std::move(path)) {}
  void Advance(uint64_t, uint64_t) override {
    if (done_) return;
    done_ = true;
    ASSERT_EQ(::truncate(path_.c_str(), 0), 0);
  }

 private:
  std::string path_;
  bool done_ = false;
};

// Mapped or read in pieces, a file that shrinks under the reader is an error
// naming the cause, never a SIGBUS and never a half-gray picture.
TEST(InputFiles, AFileCutShortWhileItIsReadFailsWithAMessage) {
  TempDir dir;
  const Image picture = Noise(1000, 1000);
  struct Case {
    std::string name;
    Loader load;
  };
  const std::string jpeg = dir.File("a.jpg"), tiff = dir.File("a.tif");
  ASSERT_TRUE(SaveJpegFile(jpeg, picture, 95, false, nullptr));
  ASSERT_TRUE(SaveTiffFile(tiff, picture, false, nullptr));
  for (const Case& c : {Case{jpeg, LoadJpegFile}, Case{tiff, LoadTiffFile}}) {
    SCOPED_TRACE(c.name);
    TruncatingProgress progress(c.name);
    Result<Image> image = c.load(c.name, nullptr, &progress);
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().kind(), ErrorKind::Truncated);
    EXPECT_EQ(image.error().message(),
              "another program cut the file short while it was being read: " + c.name);
  }
}

uint64_t StatusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1));
  }
  return 0;
}

// The most resident memory `run` adds, in bytes: clear_refs 5 resets the
// process's peak to what it holds now.
uint64_t PeakGrowth(const std::function<void()>& run) {
  testing::WriteText("/proc/self/clear_refs", "5");
  const uint64_t before = StatusKilobytes("VmRSS");
  run();
  return (StatusKilobytes("VmHWM") - before) * 1024;
}

// Whether `run` succeeds in a child process given `bytes` of address space.
bool SucceedsWithin(rlim_t bytes, const std::function<bool()>& run) {
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit limit{bytes, bytes};
    ::_exit(::setrlimit(RLIMIT_AS, &limit) == 0 && run() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// A picture followed by 3 GiB (a sparse file): memory and address space
// follow the picture.
TEST(InputFiles, MemoryFollowsThePictureNotTheFile) {
#ifdef ZAVO_SANITIZED
  GTEST_SKIP() << "the sanitizers' own memory hides the decoders'";
#endif
  TempDir dir;
  const Image picture = Noise(3000, 2000);
  const std::string jpeg = dir.File("tail.jpg"), bmp = dir.File("tail.bmp");
  ASSERT_TRUE(SaveJpegFile(jpeg, picture, 90, false, nullptr));
  ASSERT_TRUE(SaveBmpFile(bmp, picture, nullptr));
  struct Case {
    std::string name;
    Loader load;
  };
  for (const Case& c : {Case{jpeg, LoadJpegFile}, Case{bmp, LoadBmpFile}}) {
    SCOPED_TRACE(c.name);
    const auto size = static_cast<off_t>(std::filesystem::file_size(c.name));
    ASSERT_EQ(::truncate(c.name.c_str(), size + (off_t{3} << 30)), 0);
    bool loaded = false;
    const uint64_t peak = PeakGrowth([&] { loaded = c.load(c.name, nullptr, nullptr).ok(); });
    EXPECT_TRUE(loaded);
    EXPECT_LE(peak, picture.size_bytes() * 11 / 10 + (16 << 20));
    EXPECT_TRUE(
        SucceedsWithin(2'000'000'000, [&] { return c.load(c.name, nullptr, nullptr).ok(); }));
  }
}

// An export encodes the transfer file's rows where they lie; when another
// program cuts the file short meanwhile, no target is written.
TEST(InputFiles, AnExportWhoseTransferFileIsCutShortWritesNothing) {
  TempDir dir;
  const std::string bmp = dir.File("in.bmp"), target = dir.File("out");
  using Saver = std::function<Result<void>(const Image&, Progress*)>;
  for (const Saver& save :
       {Saver([&](const Image&i, Progress*p) { return SaveJpegFile(target, i, 90, 0, p); }),
        Saver([&](const Image&i, Progress*p) { return SaveTiffFile(target, i, true, p); })}) {
    ASSERT_TRUE(SaveBmpFile(bmp, Noise(1000, 1000), nullptr));
    const Result<Image> image = LoadBmpFile(bmp, nullptr, nullptr);
    ASSERT_TRUE(image.ok());
    TruncatingProgress progress(bmp);
    const Result<void> saved = save(image.value(), &progress);
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error().message(),
              "another program cut the file short while it was being read: " + bmp);
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

// Save as the button runs it, on a 20-megapixel picture: the picture is held
// once, in the transfer file's pages.
TEST(InputFiles, AnExportHoldsThePictureOnce) {
#ifdef ZAVO_SANITIZED
  GTEST_SKIP() << "the sanitizers' own memory hides the encoders'";
#endif
  TempDir dir;
  const std::string bmp = dir.File("in.bmp");
  ASSERT_TRUE(SaveBmpFile(bmp, Noise(5472, 3648), nullptr));
  const uint64_t picture = std::filesystem::file_size(bmp);
  testing::RecordingMessageBoxes boxes;
  for (bool tiff : {false, true}) {
    LibraryImgKit imgkit(boxes);
    const std::string target = dir.File(tiff ? "out.tif" : "out.jpg");
    const uint64_t peak = PeakGrowth([&] {
      tiff ? ExportTiff(imgkit, boxes, bmp, target, 1)
           : ExportJpeg(imgkit, boxes, bmp, target, 75, 0);
    });
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_LE(peak, picture * 11 / 10 + (16 << 20)) << target;
  }
  EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace zavo
