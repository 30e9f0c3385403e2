// The real program as the host starts it, without a display.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "support/hostile_jpeg.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using testing::RunCommand;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string Import(const std::string& format, const std::string& source,
                   const std::string& transfer) {
  return format + " " + Quote("/ON=" + source) + " " + Quote("/FN=" + transfer);
}

// Output and errors in *output; no `prefix` (limits, environment): no display.
int RunZavo(const std::string& arguments, std::string* output, const std::string& prefix = "") {
  return RunCommand((prefix.empty() ? "env -u DISPLAY" : prefix) +
                        " timeout 60 '" ZAVO_BINARY "' " + arguments + " 2>&1",
                    output);
}

// Past `ulimit -f` the write fails like any other instead of the signal
// killing the process; without /GP the host's warning goes to stderr. A FIFO
// without a writer would hold an ordinary open for ever. A JPEG cut short
// imports with a warning, which a stderr whose reader has gone (a pipe
// closed at its far end) loses without changing the outcome.
TEST(ReadMode, EndsWithItsOutcomeAndKeepsTheOldTransferFileOnFailure) {
  testing::TempDir dir;
  const std::string tif = dir.File("photo one "), jpg = dir.File("a.jpg"),
                    cut = dir.File("cut.jpg");
  ASSERT_EQ(RunCommand("convert -size 33x17 plasma:fractal -seed 1 -compress LZW tif:" +
                       Quote(tif) + " && convert -size 300x200 gradient:red-blue " + Quote(jpg) +
                       " && head -c 3000 " + Quote(jpg) + " >" + Quote(cut)),
            0);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(dir.File("dir").c_str(), 0700), 0);
  const std::string transfer = dir.File("t.bmp "), limited = "ulimit -f 32 && env -u DISPLAY";
  const std::string fifo = Quote(dir.File("fifo")),
                    gone_reader = "exec 4<>" + fifo + " 5>" + fifo +
                                  " 4<&- && env -u DISPLAY sh -c 'exec \"$@\" 2>&5' sh";
  const struct {
    std::string arguments, prefix, said;
    int status;
  } cases[] = {
      // clang-format off
      {Import("/R /TIF", tif, transfer), "", "Plumio TWAIN(32Bit) ADD_IN", 0},
      {Import("/GP /R /JPEG", jpg, transfer), "", "", 0},
      {Import("/GP /R /JPG", cut, transfer), gone_reader, "", 0},
      {Import("/GP /R /JPG", dir.File("missing.jpg"), transfer), "", "missing.jpg", 1},
      {Import("/GP /R /JPG", tif, transfer), "", "zavo:", 1},
      {Import("/GP /R /JPG", jpg, transfer), limited, "t.bmp : File too large", 1},
      {Import("/GP /R /GIF", jpg, transfer), "", "GIFは今回よりサポート外といたしました", 1},
      {Import("/GP /R", jpg, transfer), "",
       "zavo: read mode: no format was given (/JPG or /TIF); nothing was imported\n", 1},
      {Import("/GP /R /JPG", dir.File("fifo"), transfer), "", "FIFO", 1},
      {Import("/GP /R /TIF", dir.File("dir"), transfer), "", "folder", 1},
      {Import("/GP /R /JPG", "/dev/null", transfer), "", "device", 1},
      {Import("/GP /W /JPG", dir.File("out.jpg"), dir.File("fifo")), "", "FIFO", 1}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    testing::WriteText(transfer, "old");
    std::string output;
    EXPECT_EQ(RunZavo(c.arguments, &output, c.prefix), c.status) << output;
    EXPECT_NE(output.find(c.said), std::string::npos) << output;
    EXPECT_TRUE(!c.said.empty() || output.empty()) << output;
    EXPECT_EQ(testing::EntriesIn(dir.path()), 6u);
    EXPECT_EQ(testing::ReadText(transfer) == "old", c.status == 1);
    EXPECT_EQ(testing::ReadText(transfer).starts_with("BM"), c.status == 0);
  }
}

// The display takes connections and never answers, on the abstract name
// where X clients look first; timeout's 60 s only tells a hang from an answer.
TEST(ReadMode, GoesOnWithoutADisplayThatNeverAnswers) {
  testing::TempDir dir;
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
  EXPECT_EQ(RunZavo(Import("/GP /R /JPG", dir.File("a.jpg"), dir.File("t.bmp")), &output,
                    "env DISPLAY=" + display),
            0)
      << output;
  ::close(fd);
  EXPECT_EQ(output, "zavo: warning: the display " + display +
                        " did not answer within 2 seconds; going on without a display\n");
  EXPECT_TRUE(testing::ReadText(dir.File("t.bmp")).starts_with("BM"));
}

// Ten times the time and twice the memory: a slow machine passes, a runaway dies.
TEST(InputFilesE2e, EverySmallDecompressionBombEndsWithinTwoSecondsAndOneGiB) {
  testing::TempDir dir;
#ifdef ZAVO_SANITIZED
  const std::string limits = "ulimit -t 20 && env -u DISPLAY";  // the sanitizers reserve terabytes
#else
  const std::string limits = "ulimit -t 20 && ulimit -v 2097152 && env -u DISPLAY";
#endif
  for (const testing::HostileJpeg& bomb : testing::DecompressionBombs()) {
    SCOPED_TRACE(bomb.name);
    ASSERT_LE(bomb.bytes.size(), 100u * 1024);
    testing::WriteBytes(dir.File("bomb.jpg"), bomb.bytes);
    std::string output;
    EXPECT_EQ(
        RunZavo(Import("/GP /R /JPG", dir.File("bomb.jpg"), dir.File("t.bmp")), &output, limits),
        bomb.refused ? 1 : 0)
        << output;
    // Refused for what it costs, not for running out of memory.
    EXPECT_EQ(output.find("bytes can") != std::string::npos, bomb.refused) << output;
  }
}

}  // namespace
}  // namespace zavo
