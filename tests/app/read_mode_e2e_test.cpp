// The real program, started as the host starts it, with no display.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;
using testing::TempDir;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string Import(const std::string& format, const std::string& source,
                   const std::string& transfer) {
  return format + " " + Quote("/ON=" + source) + " " + Quote("/FN=" + transfer);
}

// Runs `program` after `prefix` (limits, user) in environment `env`; the
// status, with stdout and stderr together in *output.
int RunZavo(const std::string& arguments, std::string* output, const std::string& prefix = "",
            const std::string& env = "-u DISPLAY", const std::string& program = ZAVO_BINARY) {
  return RunCommand(
      prefix + " env " + env + " timeout 60 " + Quote(program) + " " + arguments + " 2>&1", output);
}

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

// The names end in a blank, which is part of them.
TEST(ReadMode, ImportsAJpegOrTiffIntoTheTransferFile) {
  TempDir dir;
  const struct {
    const char* format;
    std::string made;
    int tolerance;
  } cases[] = {
      {"/GP /R /JPG", "-size 97x61 gradient:red-blue -quality 90 made.jpg", 1},
      {"/R /TIF", "-size 33x17 plasma:fractal -seed 1 -depth 8 -compress LZW made.tif", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    ASSERT_EQ(RunCommand("cd " + Quote(dir.path()) + " && convert " + c.made), 0);
    const std::string source = dir.File("photo one "), transfer = dir.File("t.bmp ");
    fs::rename(dir.File(c.made.substr(c.made.rfind(' ') + 1)), source);
    std::string output;
    ASSERT_EQ(RunZavo(Import(c.format, source, transfer), &output), 0) << output;
    // Without /GP the host's warning goes to stderr and the import still runs.
    EXPECT_EQ(output.find("Plumio TWAIN(32Bit) ADD_IN") != std::string::npos,
              std::string(c.format).find("/GP") == std::string::npos)
        << output;
    const auto ours = testing::DecodeWithImageMagick(transfer);
    const auto reference = testing::DecodeWithImageMagick(source);
    ASSERT_TRUE(ours && reference);
    EXPECT_LE(testing::MaxChannelDifference(*ours, *reference), c.tolerance);
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
    fs::remove(source);
    fs::remove(transfer);
  }
}

// Only a run that imported something ends with status 0 in read mode, and
// a failed one leaves the old transfer file alone. Past `ulimit -f` the
// write fails like any other instead of the signal killing the process.
TEST(ReadMode, FailsWithAMessageAndKeepsTheOldTransferFile) {
  TempDir dir;
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(dir.File("a.tif"))), 0);
  ASSERT_EQ(RunCommand("convert -size 300x200 xc:red " + Quote(dir.File("a.jpg"))), 0);
  const std::string transfer = dir.File("t.bmp");
  const struct {
    std::string arguments, prefix, said;
  } cases[] = {{Import("/GP /R /JPG", dir.File("missing.jpg"), transfer), "", "missing.jpg"},
               {Import("/GP /R /JPG", dir.File("a.tif"), transfer), "", "zavo:"},
               {Import("/GP /R /JPG", dir.File("a.jpg"), transfer), "ulimit -f 32 &&",
                "t.bmp: File too large"},
               {Import("/GP /R /GIF", dir.File("a.jpg"), transfer), "",
                "GIFは今回よりサポート外といたしました"},
               {Import("/GP /R", dir.File("a.jpg"), transfer), "",
                "zavo: read mode: no format was given (/JPG or /TIF); nothing was imported\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    testing::WriteText(transfer, "old");
    std::string output;
    EXPECT_EQ(RunZavo(c.arguments, &output, c.prefix), 1) << output;
    EXPECT_NE(output.find(c.said), std::string::npos) << output;
    EXPECT_EQ(testing::ReadText(transfer), "old");
    EXPECT_EQ(EntriesIn(dir.path()), 3u);
  }
  std::string output;
  EXPECT_EQ(RunZavo("/GP", &output), 0) << output;
}

// Installed as Linux programs are, in a folder the user cannot write, and
// started with a display whose window module is missing: the import goes
// on, and the settings are made from the template in the user's config
// folder. The run is nobody's when the tests run as root.
TEST(ReadMode, RunsFromAReadOnlyInstallationWithoutItsWindowModule) {
  TempDir dir;
  const std::string lib = dir.File("lib"), home = dir.File("home");
  fs::create_directories(lib);
  fs::create_directories(home);
  fs::copy_file(ZAVO_BINARY, lib + "/zavo");
  fs::copy_file(ZAVO_SOURCE_DIR "/data/DEF_ZAVO.CNF", lib + "/DEF_ZAVO.CNF");
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(dir.File("a.jpg"))), 0);
  testing::OpenToOrdinaryUser(dir.path().string(), true);
  testing::OpenToOrdinaryUser(home, true);
  testing::OpenToOrdinaryUser(lib, false);
  const std::string as_user =
      ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups" : "";
  for (const std::string display : {"-u DISPLAY", "DISPLAY=:0"}) {
    std::string output;
    const int status =
        RunZavo(Import("/GP /R /JPG", dir.File("a.jpg"), dir.File("t.bmp")), &output, as_user,
                "-u XDG_CONFIG_HOME " + display + " HOME=" + Quote(home), lib + "/zavo");
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.empty(), display == "-u DISPLAY") << output;
    EXPECT_EQ(output.find("cannot load the window module") != std::string::npos, !output.empty());
    EXPECT_TRUE(fs::exists(dir.File("t.bmp")));
  }
  EXPECT_EQ(testing::ReadBytes(home + "/.config/zavo/ZAVO.CNF"),
            testing::ReadBytes(lib + "/DEF_ZAVO.CNF"));
  EXPECT_FALSE(fs::exists(lib + "/ZAVO.CNF"));
}

// Takes connections as a display would and never answers them: the
// abstract socket name where X clients look for display `name()` first.
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

// The program's own bound of 2 s is the behaviour; timeout's 30 s only
// tells a hang (status 124) from an answer.
TEST(ReadMode, GoesOnWithoutADisplayThatNeverAnswers) {
  TempDir dir;
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(dir.File("a.jpg"))), 0);
  SilentDisplay display;
  ASSERT_TRUE(display.listening());
  std::string output;
  EXPECT_EQ(RunZavo(Import("/GP /R /JPG", dir.File("a.jpg"), dir.File("t.bmp")), &output, "",
                    "DISPLAY=" + display.name()),
            0)
      << output;
  EXPECT_EQ(output, "zavo: warning: the display " + display.name() +
                        " did not answer within 2 seconds; going on without a display\n");
  EXPECT_TRUE(fs::exists(dir.File("t.bmp")));
}

// Every JPEG and TIFF of the shared corpus through the real program: what
// must decode imports (exactly: the decoders' own tests judge the pixels),
// and nothing else crashes, hangs or fails without saying why.
TEST(ReadMode, HoldsEveryCorpusFileToItsExpectedOutcome) {
  ZAVO_REQUIRE_TESTDATA(data);
  std::ifstream table(data / "expected.tsv");
  std::string line, file, expected;
  int checked = 0;
  while (std::getline(table, line)) {
    std::istringstream(line) >> file >> expected;
    const bool jpeg = file.starts_with("jpeg/");
    if (!jpeg && !file.starts_with("tiff/")) continue;
    TempDir dir;
    std::string output;
    const int status = RunZavo(
        Import(jpeg ? "/GP /R /JPG" : "/GP /R /TIF", (data / file).string(), dir.File("t.bmp")),
        &output);
    SCOPED_TRACE(file + " (" + expected + "): " + output);
    ++checked;
    ASSERT_TRUE(status == 0 || status == 1) << "crashed or hung";
    EXPECT_EQ(fs::exists(dir.File("t.bmp")), status == 0);
    EXPECT_TRUE(status == 0 || output.find("zavo:") != std::string::npos) << "no message";
    EXPECT_TRUE(status == 0 || expected != "decode");
  }
  EXPECT_GT(checked, 400);
}

}  // namespace
}  // namespace zavo
