#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "support/test_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

Result<void> WriteWhole(const std::string& target, const std::string& text) {
  Result<AtomicFile> file = AtomicFile::Create(target);
  if (!file) return file.error();
  ZAVO_TRY(file->Write(text.data(), text.size()));
  return file->Commit(Durability::Renamed);
}

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

// Renaming over a node that is not a regular file would replace the node
// itself; every such target is refused and stays what it was.
TEST(AtomicFile, RefusesTargetsThatAreNoRegularFilesAndLeavesThemAlone) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  fs::create_directory(dir.File("folder"));
  fs::create_symlink("/dev/null", dir.File("device"));
  for (const char* name : {"fifo", "folder", "device"}) {
    SCOPED_TRACE(name);
    const Result<void> written = WriteWhole(dir.File(name), "picture");
    ASSERT_FALSE(written);
    EXPECT_NE(written.error().message().find(dir.File(name)), std::string::npos);
  }
  EXPECT_TRUE(fs::is_fifo(dir.File("fifo")));
  EXPECT_TRUE(fs::is_directory(dir.File("folder")));
  EXPECT_EQ(fs::read_symlink(dir.File("device")), "/dev/null");
  EXPECT_EQ(EntriesIn(dir.path()), 3u);
}

TEST(AtomicFile, ReplacesTheFileALinkNamesAndKeepsTheLink) {
  TempDir dir;
  fs::create_directory(dir.File("real"));
  testing::WriteText(dir.File("real/picture.bmp"), "old");
  fs::create_symlink("picture.bmp", dir.File("real/inner"));  // relative to its own folder
  fs::create_symlink("real/inner", dir.File("link.bmp"));
  fs::create_symlink("real/new.bmp", dir.File("dangling.bmp"));
  ASSERT_TRUE(WriteWhole(dir.File("link.bmp"), "new"));
  ASSERT_TRUE(WriteWhole(dir.File("dangling.bmp"), "created"));
  EXPECT_EQ(fs::read_symlink(dir.File("link.bmp")), "real/inner");
  EXPECT_EQ(fs::read_symlink(dir.File("real/inner")), "picture.bmp");
  EXPECT_EQ(testing::ReadText(dir.File("real/picture.bmp")), "new");
  EXPECT_TRUE(fs::is_symlink(dir.File("dangling.bmp")));
  EXPECT_EQ(testing::ReadText(dir.File("real/new.bmp")), "created");
  EXPECT_EQ(EntriesIn(dir.path()), 3u);
  EXPECT_EQ(EntriesIn(dir.File("real")), 3u);
}

// The scratch name adds to the target's; it must still fit the limit on a
// name's length, also when the cut falls inside a multi-byte character.
TEST(AtomicFile, WritesTargetsWhoseNamesHaveTheLongestLengthsAllowed) {
  TempDir dir;
  std::vector<std::string> names;
  for (size_t length : {242, 243, 244, 250, 255}) names.push_back(std::string(length, 'n'));
  std::string japanese;
  while (japanese.size() < 255) japanese += "画";  // three bytes each: no cut at 242 fits
  names.push_back(japanese);
  for (const std::string& name : names) {
    SCOPED_TRACE(name.size());
    ASSERT_TRUE(WriteWhole(dir.File(name), "picture"));
    EXPECT_EQ(testing::ReadText(dir.File(name)), "picture");
  }
  EXPECT_EQ(EntriesIn(dir.path()), names.size());
}

}  // namespace
}  // namespace zavo
