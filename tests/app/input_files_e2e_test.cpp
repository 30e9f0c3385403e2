#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "support/hostile_jpeg.h"
#include "support/test_support.h"

namespace zavo {
namespace {

// The status of the program run with `arguments` and no display, `time`
// writing its CPU seconds and kilobytes to `usage`; all it said in *output.
int RunZavo(const std::string& arguments, const std::string& usage, std::string* output) {
  return testing::RunCommand("env -u DISPLAY /usr/bin/time -f '%U %S %M' -o '" + usage +
                                 "' timeout 60 '" ZAVO_BINARY "' /GP " + arguments + " 2>&1",
                             output);
}

// A FIFO without a writer would hold an ordinary open for ever; the generous
// timeout only tells a hang from an answer.
TEST(InputFilesE2e, RefusesAFolderFifoOrDeviceAtOnce) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0700), 0);
  const std::string transfer = "'/FN=" + dir.File("t.bmp") + "'";
  const std::pair<std::string, std::string> cases[] = {
      {"/R /JPG '/ON=" + dir.File("fifo") + "' " + transfer, "FIFO"},
      {"/R /TIF '/ON=" + dir.File("folder") + "' " + transfer, "folder"},
      {"/R /JPG /ON=/dev/null " + transfer, "device"},
      {"/W /JPG '/ON=" + dir.File("out.jpg") + "' '/FN=" + dir.File("fifo") + "'", "FIFO"}};
  for (const auto& [arguments, reason] : cases) {
    SCOPED_TRACE(arguments);
    testing::WriteText(dir.File("t.bmp"), "old");
    std::string output;
    EXPECT_EQ(RunZavo(arguments, dir.File("usage"), &output), 1) << output;
    EXPECT_NE(output.find(reason), std::string::npos) << output;
    EXPECT_EQ(testing::ReadText(dir.File("t.bmp")), "old");
  }
}

// Every file of 100 KB or less ends, decoded or refused, within 2 s of CPU
// time and 1 GiB; the last of them is the most a file that size may cost.
TEST(InputFilesE2e, EverySmallDecompressionBombEndsWithinTwoSecondsAndOneGiB) {
  testing::TempDir dir;
  for (const testing::HostileJpeg& bomb : testing::DecompressionBombs()) {
    SCOPED_TRACE(bomb.name);
    ASSERT_LE(bomb.bytes.size(), 100u * 1024);
    testing::WriteBytes(dir.File("bomb.jpg"), bomb.bytes);
    std::string output;
    EXPECT_EQ(RunZavo("/R /JPG '/ON=" + dir.File("bomb.jpg") + "' '/FN=" + dir.File("t.bmp") + "'",
                      dir.File("usage"), &output),
              bomb.refused ? 1 : 0)
        << output;
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
