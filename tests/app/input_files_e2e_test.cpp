// The real program given inputs that are not pictures at all or that are
// built to cost it: it answers at once, within bounds, with status 0 or 1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "support/hostile_jpeg.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using testing::RunCommand;
using testing::TempDir;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// A FIFO without a writer would hold an ordinary open for ever; the generous
// timeout only tells a hang from an answer.
TEST(InputFilesE2e, RefusesAFolderFifoOrDeviceAtOnce) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0700), 0);
  const std::string transfer = dir.File("t.bmp");
  struct Case {
    std::string arguments;
    std::string reason;
  };
  const Case cases[] = {
      {"/R /JPG " + Quote("/ON=" + dir.File("fifo")) + " " + Quote("/FN=" + transfer), "FIFO"},
      {"/R /TIF " + Quote("/ON=" + dir.File("folder")) + " " + Quote("/FN=" + transfer), "folder"},
      {"/R /JPG /ON=/dev/null " + Quote("/FN=" + transfer), "device"},
      {"/W /JPG " + Quote("/ON=" + dir.File("out.jpg")) + " " + Quote("/FN=" + dir.File("fifo")),
       "FIFO"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    testing::WriteText(transfer, "old");
    std::string output;
    const int status = RunCommand(
        "env -u DISPLAY timeout 20 '" ZAVO_BINARY "' /GP " + c.arguments + " 2>&1", &output);
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find(c.reason), std::string::npos) << output;
    EXPECT_EQ(testing::ReadText(transfer), "old");
  }
}

// Every file of 100 KB or less ends, decoded or refused, within 2 s of CPU
// time and 1 GiB; the last of them is the most a file that size may cost.
TEST(InputFilesE2e, EverySmallDecompressionBombEndsWithinTwoSecondsAndOneGiB) {
  TempDir dir;
  for (const testing::HostileJpeg& bomb : testing::DecompressionBombs()) {
    SCOPED_TRACE(bomb.name);
    ASSERT_LE(bomb.bytes.size(), 100u * 1024);
    testing::WriteBytes(dir.File("bomb.jpg"), bomb.bytes);
    std::string output;
    const int status = RunCommand(
        "env -u DISPLAY /usr/bin/time -f '%U %S %M' -o " + Quote(dir.File("usage")) +
            " timeout 60 '" ZAVO_BINARY "' /GP /R /JPG " + Quote("/ON=" + dir.File("bomb.jpg")) +
            " " + Quote("/FN=" + dir.File("t.bmp")) + " 2>&1",
        &output);
    EXPECT_EQ(status, bomb.refused ? 1 : 0) << output;
#ifndef ZAVO_SANITIZED
    double user = 0, system = 0;
    uint64_t kilobytes = 0;
    std::istringstream(testing::ReadText(dir.File("usage"))) >> user >> system >> kilobytes;
    EXPECT_LT(user + system, 2.0);
    EXPECT_LT(kilobytes, 1u << 20);
#endif
  }
}

}  // namespace
}  // namespace zavo
