// The real program, started as the host starts it, with no display.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "imaging/jpeg_codec.h"
#include "imaging/tiff_codec.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using testing::RunCommand;
using testing::TempDir;

struct ProcessRun {
  int status;
  std::string output;  // stdout and stderr together
};

ProcessRun RunZavo(const std::string& arguments) {
  ProcessRun run{};
  run.status =
      RunCommand("env -u DISPLAY timeout 60 '" ZAVO_BINARY "' " + arguments + " 2>&1", &run.output);
  return run;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string ImportArguments(const std::string& format, const std::string& source,
                            const std::string& transfer) {
  return "/GP /R " + format + " " + Quote("/ON=" + source) + " " + Quote("/FN=" + transfer);
}

// The names end in a blank, which is part of them.
TEST(ReadMode, ImportsAJpegIntoTheTransferFile) {
  TempDir dir;
  const std::string source = dir.File("photo one.jpg ");
  ASSERT_EQ(RunCommand("convert -size 97x61 gradient:red-blue -quality 90 " +
                       Quote(dir.File("made.jpg"))),
            0);
  std::filesystem::rename(dir.File("made.jpg"), source);
  const ProcessRun run = RunZavo(ImportArguments("/JPG", source, dir.File("t.bmp ")));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.bmp")));
  const auto ours = testing::DecodeWithImageMagick(dir.File("t.bmp "));
  const auto reference = testing::DecodeWithImageMagick(source);
  ASSERT_TRUE(ours && reference);
  EXPECT_LE(testing::MaxChannelDifference(*ours, *reference), 1);
}

TEST(ReadMode, ImportsATiffIntoTheTransferFile) {
  TempDir dir;
  const std::string source = dir.File("scan.tif");
  ASSERT_EQ(RunCommand("convert -size 33x17 plasma:fractal -seed 1 -depth 8 -compress LZW " +
                       Quote(source)),
            0);
  const ProcessRun run = RunZavo(ImportArguments("/TIF", source, dir.File("t.bmp")));
  ASSERT_EQ(run.status, 0) << run.output;
  const auto ours = testing::DecodeWithImageMagick(dir.File("t.bmp"));
  const auto reference = testing::DecodeWithImageMagick(source);
  ASSERT_TRUE(ours && reference);
  EXPECT_EQ(testing::MaxChannelDifference(*ours, *reference), 0);
}

TEST(ReadMode, AMissingSourceFailsWithAMessageAndLeavesTheOldTransferFile) {
  TempDir dir;
  testing::WriteText(dir.File("t.bmp"), "old");
  const ProcessRun run =
      RunZavo(ImportArguments("/JPG", dir.File("missing.jpg"), dir.File("t.bmp")));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("missing.jpg"), std::string::npos) << run.output;
  EXPECT_EQ(testing::ReadText(dir.File("t.bmp")), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ReadMode, ATiffGivenAsJpegIsLoadedAsJpegAndFails) {
  TempDir dir;
  const std::string source = dir.File("a.tif");
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(source)), 0);
  const ProcessRun run = RunZavo(ImportArguments("/JPG", source, dir.File("t.bmp")));
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.bmp")));
}

TEST(ReadMode, WithoutTheHostTokenWarnsOnStderrAndStillImports) {
  TempDir dir;
  const std::string source = dir.File("a.jpg");
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(source)), 0);
  const ProcessRun run =
      RunZavo("/R /JPG " + Quote("/ON=" + source) + " " + Quote("/FN=" + dir.File("t.bmp")));
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("Plumio TWAIN(32Bit) ADD_IN"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir.File("t.bmp")));
}

TEST(ReadMode, GoesOnWithoutADisplayWhenTheWindowModuleIsMissing) {
  TempDir dir;
  std::filesystem::copy_file(ZAVO_BINARY, dir.File("zavo"));
  std::filesystem::permissions(dir.File("zavo"), std::filesystem::perms::owner_all);
  const std::string source = dir.File("a.jpg");
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(source)), 0);
  std::string output;
  const int status = RunCommand("DISPLAY=:0 timeout 60 " + Quote(dir.File("zavo")) + " " +
                                    ImportArguments("/JPG", source, dir.File("t.bmp")) + " 2>&1",
                                &output);
  EXPECT_EQ(status, 0);
  EXPECT_NE(output.find("cannot load the window module"), std::string::npos) << output;
  EXPECT_TRUE(std::filesystem::exists(dir.File("t.bmp")));
}

// Installed as Linux programs are, in a folder the user cannot write, the
// program keeps the settings in the user's config folder, made there from
// the template on first use. The run is nobody's when the tests run as root.
TEST(ReadMode, KeepsTheSettingsOfAReadOnlyInstallationInTheUsersConfigFolder) {
  TempDir dir;
  const std::string lib = dir.File("lib");
  const std::string home = dir.File("home");
  std::filesystem::create_directories(lib);
  std::filesystem::create_directories(home);
  std::filesystem::copy_file(ZAVO_BINARY, lib + "/zavo");
  std::filesystem::copy_file(std::string(ZAVO_SOURCE_DIR) + "/data/DEF_ZAVO.CNF",
                             lib + "/DEF_ZAVO.CNF");
  const std::string source = dir.File("a.jpg");
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(source)), 0);
  testing::OpenToOrdinaryUser(dir.path().string(), true);
  testing::OpenToOrdinaryUser(home, true);
  testing::OpenToOrdinaryUser(lib, false);
  const std::string as_user =
      ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
  std::string output;
  const int status = RunCommand(as_user + "env -u DISPLAY -u XDG_CONFIG_HOME HOME=" + Quote(home) +
                                    " timeout 60 " + Quote(lib + "/zavo") + " " +
                                    ImportArguments("/JPG", source, dir.File("t.bmp")) + " 2>&1",
                                &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");
  EXPECT_EQ(testing::ReadBytes(home + "/.config/zavo/ZAVO.CNF"),
            testing::ReadBytes(lib + "/DEF_ZAVO.CNF"));
  EXPECT_FALSE(std::filesystem::exists(lib + "/ZAVO.CNF"));
  EXPECT_TRUE(std::filesystem::exists(dir.File("t.bmp")));
}

// Only a run that imported something may end with status 0 in read mode.
TEST(ReadMode, NoModeEndsNormallyButGifOrNoFormatFails) {
  EXPECT_EQ(RunZavo("/GP").status, 0);
  const ProcessRun gif = RunZavo("/GP /R /GIF /ON=a.gif /FN=b.bmp");
  EXPECT_EQ(gif.status, 1);
  EXPECT_NE(gif.output.find("GIFは今回よりサポート外といたしました"), std::string::npos);
  const ProcessRun none = RunZavo("/GP /R /ON=a.jpg /FN=b.bmp");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.output,
            "zavo: read mode: no format was given (/JPG or /TIF); nothing was imported\n");
}

// Past `ulimit -f` the write fails like any other instead of the signal
// killing the process.
TEST(ReadMode, AWritePastTheFileSizeLimitFailsAndKeepsTheOldTransferFile) {
  TempDir dir;
  const std::string source = dir.File("a.jpg");
  ASSERT_EQ(RunCommand("convert -size 300x200 xc:red " + Quote(source)), 0);
  testing::WriteText(dir.File("t.bmp"), "old");
  std::string output;
  const int status = RunCommand("ulimit -f 32 && env -u DISPLAY timeout 60 '" ZAVO_BINARY "' " +
                                    ImportArguments("/JPG", source, dir.File("t.bmp")) + " 2>&1",
                                &output);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("t.bmp: File too large"), std::string::npos) << output;
  EXPECT_EQ(testing::ReadText(dir.File("t.bmp")), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// Takes connections as a display would and never answers them: the
// abstract socket name where X clients look for display `number()` first.
class SilentDisplay {
 public:
  SilentDisplay() : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    for (number_ = 7900; number_ < 8000; ++number_) {
      const std::string name = std::string(1, '\0') + "/tmp/.X11-unix/X" + std::to_string(number_);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path, name.data(), name.size());
      const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
      if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0) break;
    }
    listening_ = ::listen(fd_, 8) == 0;
  }
  ~SilentDisplay() { ::close(fd_); }
  bool listening() const { return listening_; }
  std::string name() const { return ":" + std::to_string(number_); }

 private:
  int fd_;
  int number_ = 0;
  bool listening_ = false;
};

TEST(ReadMode, GoesOnWithoutADisplayThatNeverAnswers) {
  TempDir dir;
  const std::string source = dir.File("a.jpg");
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(source)), 0);
  SilentDisplay display;
  ASSERT_TRUE(display.listening());
  std::string output;
  // A hang ends in timeout's status 124.
  const int status = RunCommand("DISPLAY=" + display.name() + " timeout 30 '" ZAVO_BINARY "' " +
                                    ImportArguments("/JPG", source, dir.File("t.bmp")) + " 2>&1",
                                &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "zavo: warning: the display " + display.name() +
                        " did not answer within 2 seconds; going on without a display\n");
  EXPECT_TRUE(std::filesystem::exists(dir.File("t.bmp")));
}

// Every JPEG and TIFF of the shared corpus through the real program: what
// must decode imports, and nothing else crashes, hangs or fails without
// saying why.
TEST(ReadMode, HoldsEveryCorpusFileToItsExpectedOutcome) {
  ZAVO_REQUIRE_TESTDATA(data);
  std::ifstream table(data / "expected.tsv");
  std::string line;
  std::getline(table, line);
  int checked = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string file, expected;
    std::getline(fields, file, '\t');
    std::getline(fields, expected, '\t');
    const bool jpeg = file.rfind("jpeg/", 0) == 0;
    if (!jpeg && file.rfind("tiff/", 0) != 0) continue;
    TempDir dir;
    const std::string source = (data / file).string();
    const ProcessRun run =
        RunZavo(ImportArguments(jpeg ? "/JPG" : "/TIF", source, dir.File("t.bmp")));
    SCOPED_TRACE(file + " (" + expected + "): " + run.output);
    ++checked;
    ASSERT_TRUE(run.status == 0 || run.status == 1) << "crashed or hung";
    if (run.status == 1) {
      EXPECT_NE(expected, "decode");
      EXPECT_NE(run.output.find("zavo:"), std::string::npos) << "failed without a message";
      EXPECT_FALSE(std::filesystem::exists(dir.File("t.bmp")));
      continue;
    }
    if (expected != "decode") continue;
    // The decoders are judged file by file in their own tests; here the
    // transfer file, read by an independent BMP reader, must hold exactly
    // the picture the decoder gives.
    Result<Image> decoded =
        jpeg ? LoadJpegFile(source, nullptr, nullptr) : LoadTiffFile(source, nullptr, nullptr);
    ASSERT_TRUE(decoded);
    const auto transfer = testing::DecodeWithImageMagick(dir.File("t.bmp"));
    if (!transfer) continue;  // beyond ImageMagick's BMP limits (a 1 x 65537 fax)
    EXPECT_EQ(testing::MaxChannelDifference(*transfer, testing::ToRgb(*decoded)), 0);
  }
  EXPECT_GT(checked, 400);
}

}  // namespace
}  // namespace zavo
