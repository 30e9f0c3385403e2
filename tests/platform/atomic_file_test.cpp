#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file_io.h"
#include "support/test_support.h"

// The system's mkostemp, and with terminate_when_made a SIGTERM the moment the file exists.
static bool terminate_when_made = false;
extern "C" int mkostemp(char* pattern, int flags) {
  static const auto next = reinterpret_cast<int (*)(char*, int)>(::dlsym(RTLD_NEXT, "mkostemp"));
  const int fd = next(pattern, flags);
  if (terminate_when_made) ::raise(SIGTERM);
  return fd;
}

namespace zavo {
namespace {

namespace fs = std::filesystem;

// Renaming over a node that is no regular file would replace the node.
TEST(AtomicFile, RefusesTargetsThatAreNoRegularFiles) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  fs::create_directory(dir.File("folder"));
  for (const auto& [name, why] :
       {std::pair("fifo", "not a regular file"), {"folder", "it is a folder"}}) {
    testing::ExpectFailure(AtomicFile::Create(dir.File(name)), ErrorKind::Io,
                           "cannot write " + dir.File(name) + ": " + why, "");
  }
  EXPECT_EQ(testing::EntriesIn(dir.path()), 2u);
}

// A name as long as the folder allows is cut for the mark at a character's
// start, so that the scratch name stays valid UTF-8.
TEST(AtomicFile, NamesItsScratchFileAfterTheTarget) {
  testing::TempDir dir;
  std::string name = "a";
  while (name.size() < 255) name += "\u00e9";  // two bytes each
  const Result<AtomicFile> file = AtomicFile::Create(dir.File(name));
  ASSERT_TRUE(file) << file.error().message();
  const std::string scratch = fs::directory_iterator(dir.path())->path().filename();
  EXPECT_EQ(scratch.substr(0, 248), "." + name.substr(0, 241) + ".zavo-") << scratch;
}

// A signal the process ignores (nohup) stays ignored; the others are handled
// only while a scratch file lives.
TEST(AtomicFile, HandlesTheEndingSignalsOnlyWhileItsScratchFileLives) {
  testing::TempDir dir;
  const auto handler = [](int signal_number) {
    struct sigaction action {};
    sigaction(signal_number, nullptr, &action);
    return action.sa_handler;
  };
  ::signal(SIGHUP, SIG_IGN);
  {
    const Result<AtomicFile> file = AtomicFile::Create(dir.File("a"));
    EXPECT_TRUE(file && handler(SIGTERM) != SIG_DFL && handler(SIGHUP) == SIG_IGN);
  }
  EXPECT_TRUE(handler(SIGTERM) == SIG_DFL && handler(SIGHUP) == SIG_IGN);
  ::signal(SIGHUP, SIG_DFL);
}

TEST(AtomicFile, ASignalAsTheScratchFileIsMadeRemovesIt) {
  testing::TempDir dir;
  EXPECT_FALSE(testing::RunInChild([&] {
    terminate_when_made = true;
    (void)AtomicFile::Create(dir.File("a"));
  }));
  EXPECT_EQ(testing::EntriesIn(dir.path()), 0u);
}

}  // namespace
}  // namespace zavo
