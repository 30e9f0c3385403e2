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

// Only a run that imported something ends with status 0 in read mode, and a
// failed one leaves the old transfer file alone; past `ulimit -f` the write
// fails like any other instead of the signal killing the process. Names may
// end in a blank; without /GP the host's warning goes to stderr.
TEST(ReadMode, EndsWithItsOutcomeAndKeepsTheOldTransferFileOnFailure) {
  TempDir dir;
  const std::string tif = dir.File("photo one "), jpg = dir.File("a.jpg");
  ASSERT_EQ(RunCommand("convert -size 33x17 plasma:fractal -seed 1 -compress LZW tif:" +
                       Quote(tif) + " && convert -size 300x200 gradient:red-blue " + Quote(jpg)),
            0);
  const std::string transfer = dir.File("t.bmp ");
  const struct {
    std::string arguments, prefix, said;
    int status;
  } cases[] = {
      // clang-format off
      {Import("/R /TIF", tif, transfer), "", "Plumio TWAIN(32Bit) ADD_IN", 0},
      {Import("/GP /R /JPEG", jpg, transfer), "", "", 0},
      {Import("/GP /R /JPG", dir.File("missing.jpg"), transfer), "", "missing.jpg", 1},
      {Import("/GP /R /JPG", tif, transfer), "", "zavo:", 1},
      {Import("/GP /R /JPG", jpg, transfer), "ulimit -f 32 &&", "t.bmp : File too large", 1},
      {Import("/GP /R /GIF", jpg, transfer), "", "GIFは今回よりサポート外といたしました", 1},
      {Import("/GP /R", jpg, transfer), "",
       "zavo: read mode: no format was given (/JPG or /TIF); nothing was imported\n", 1},
      {"/GP", "", "", 0}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    testing::WriteText(transfer, "old");
    std::string output;
    EXPECT_EQ(RunZavo(c.arguments, &output, c.prefix), c.status) << output;
    EXPECT_NE(output.find(c.said), std::string::npos) << output;
    EXPECT_TRUE(!c.said.empty() || output.empty()) << output;
    EXPECT_EQ(testing::EntriesIn(dir.path()), 3u);
    if (c.status == 1 || c.arguments == "/GP") {
      EXPECT_EQ(testing::ReadText(transfer), "old");
      continue;
    }
    const auto ours = testing::DecodeWithImageMagick(transfer);
    const auto source = testing::DecodeWithImageMagick(c.arguments.starts_with("/R") ? tif : jpg);
    ASSERT_TRUE(ours && source);
    EXPECT_LE(testing::MaxChannelDifference(*ours, *source), 1);
  }
}

// Installed as Linux programs are, in a folder the user cannot write, and
// started with a display whose window module is missing: the import goes
// on, and the settings are made from the template in the user's config
// folder. The run is nobody's when the tests run as root.
TEST(ReadMode, RunsFromAReadOnlyInstallationWithoutItsWindowModule) {
  TempDir dir;
  const std::string lib = dir.File("lib"), home = dir.File("home");
  fs::create_directories(lib);
  fs::create_directory(home);
  fs::copy_file(ZAVO_BINARY, lib + "/zavo");
  fs::copy_file(ZAVO_SOURCE_DIR "/data/DEF_ZAVO.CNF", lib + "/DEF_ZAVO.CNF");
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(dir.File("a.jpg"))), 0);
  testing::OpenToOrdinaryUser(dir.path().string(), true);
  testing::OpenToOrdinaryUser(home, true);
  testing::OpenToOrdinaryUser(lib, false);
  const std::string as_user =
      ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups" : "";
  std::string output;
  EXPECT_EQ(RunZavo(Import("/GP /R /JPG", dir.File("a.jpg"), dir.File("t.bmp")), &output, as_user,
                    "-u XDG_CONFIG_HOME DISPLAY=:0 HOME=" + Quote(home), lib + "/zavo"),
            0);
  EXPECT_NE(output.find("cannot load the window module"), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(dir.File("t.bmp")));
  EXPECT_EQ(testing::ReadBytes(home + "/.config/zavo/ZAVO.CNF"),
            testing::ReadBytes(lib + "/DEF_ZAVO.CNF"));
  EXPECT_FALSE(fs::exists(lib + "/ZAVO.CNF"));
}

// The program's own bound of 2 s is the behaviour; timeout's 60 s only
// tells a hang (status 124) from an answer. The display takes connections
// and never answers, on the abstract name where X clients look first.
TEST(ReadMode, GoesOnWithoutADisplayThatNeverAnswers) {
  TempDir dir;
  ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(dir.File("a.jpg"))), 0);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int number = 7900;
  for (; number < 8000; ++number) {
    const std::string name = std::string(1, '\0') + "/tmp/.X11-unix/X" + std::to_string(number);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::memcpy(address.sun_path, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) break;
  }
  EXPECT_EQ(::listen(fd, 8), 0);
  const std::string display = ":" + std::to_string(number);
  std::string output;
  EXPECT_EQ(RunZavo(Import("/GP /R /JPG", dir.File("a.jpg"), dir.File("t.bmp")), &output, "",
                    "DISPLAY=" + display),
            0)
      << output;
  ::close(fd);
  EXPECT_EQ(output, "zavo: warning: the display " + display +
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
