// Helpers shared by the tests of every layer: scratch folders, file bytes,
// the third-party test images, tables, processes and users.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace zavo::testing {

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of a file in this folder, as a string.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

// The shared third-party images, or nullopt when the folder is absent.
std::optional<std::filesystem::path> TestDataDir();

// Fails without the images: a machine that lacks them would pass testing little.
#define ZAVO_REQUIRE_TESTDATA(var)                                                      \
  const auto var##_opt = ::zavo::testing::TestDataDir();                                \
  if (!var##_opt)                                                                       \
    FAIL() << "the third-party test images are missing: expected in " ZAVO_TESTDATA_DIR \
              " (with expected.tsv), or in $ZAVO_TESTDATA_DIR";                         \
  const std::filesystem::path var = *var##_opt

// A file and its judgement in expected.tsv: decode, decode-or-unsupported, either or reject.
struct CorpusFile {
  std::filesystem::path path;
  std::string expected;
};

// The files listed in expected.tsv whose names start with `prefix`.
std::vector<CorpusFile> Corpus(const std::filesystem::path& dir, const std::string& prefix);

// The rows of a tab-separated table in tests/ (`name` relative to it), by
// their first field; lines starting with # are comments.
std::map<std::string, std::vector<std::string>> Table(const std::string& name);

// The entries of a folder: a failed write must leave no scratch file behind.
size_t EntriesIn(const std::filesystem::path& folder);

// Lets this process (a child: see RunInChild) write files of at most
// `bytes`, as a full disk would: a longer write fails with EFBIG.
void LimitFileSize(uint64_t bytes);

// A failure of `kind` whose message starts with `prefix` and holds `words`.
template <typename T>
void ExpectFailure(const Result<T>& result, ErrorKind kind, const std::string& prefix,
                   const std::string& words) {
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), kind) << result.error().message();
  EXPECT_TRUE(result.error().message().starts_with(prefix)) << result.error().message();
  EXPECT_NE(result.error().message().find(words), std::string::npos) << result.error().message();
}

// Runs a command through the shell; returns its exit status, output in *out.
int RunCommand(const std::string& command, std::string* out = nullptr);

// Whether `body` ran to its end in a child process without a failed
// expectation; with `ordinary_user` the child first becomes nobody when the
// tests run as root. A child that blocks is killed after 20 s.
bool RunInChild(const std::function<void()>& body, bool ordinary_user = false);

// Lets an ordinary user (see RunInChild) read `folder`, or also write in it
// as its owner, as in a folder of the user's own; read-only, not even its
// owner may write there.
void OpenToOrdinaryUser(const std::string& folder, bool writable);

// The ordinary user of RunInChild, and a user who is neither that one nor
// root, to own what "another user" planted (no account needed).
uid_t OrdinaryUser();
inline constexpr uid_t kAnotherUser = 4242;

}  // namespace zavo::testing
