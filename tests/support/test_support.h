// Helpers shared by the tests: scratch folders, file bytes, the third-party
// test images and an independent decoder (ImageMagick) as an oracle.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "imaging/image.h"

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

#define ZAVO_REQUIRE_TESTDATA(var)                                               \
  const auto var##_opt = ::zavo::testing::TestDataDir();                         \
  if (!var##_opt) GTEST_SKIP() << "third-party test images are absent; skipped"; \
  const std::filesystem::path var = *var##_opt

// A picture as 8-bit RGB rows, top row first: what tests compare.
struct RgbPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};

// As the picture is seen: turned by its orientation.
RgbPicture ToRgb(const Image& image);

// Decodes the first frame with ImageMagick, turned upright by its
// orientation, alpha flattened onto white; embedded profiles are not applied.
std::optional<RgbPicture> DecodeWithImageMagick(const std::string& path);

// The largest difference of any channel of any pixel (255 for a size mismatch).
int MaxChannelDifference(const RgbPicture& a, const RgbPicture& b);

// Runs a command through the shell; returns its exit status, output in *out.
int RunCommand(const std::string& command, std::string* out = nullptr);

// Runs `body` in a child process and tells whether it ran to its end without
// a failed expectation (the child prints its failures). With `ordinary_user`
// the child first becomes nobody when the tests run as root, since file
// permissions do not hold for root. The child is killed after 20 s, so a
// body that blocks fails instead of hanging the suite.
bool RunInChild(const std::function<void()>& body, bool ordinary_user = false);

// Lets an ordinary user (see RunInChild) into `folder`: to read its files, or
// with `writable` also to create files in it. Read-only, not even its owner
// may write there any more.
void OpenToOrdinaryUser(const std::string& folder, bool writable);

}  // namespace zavo::testing
