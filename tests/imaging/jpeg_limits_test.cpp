// The decoder's bounds on work and memory: a file gets what its bytes can pay for.
#include <gtest/gtest.h>

#include "imaging/jpeg_codec.h"
#include "support/hostile_jpeg.h"

namespace zavo {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(JpegLimits, RefusesDecompressionBombsBeforeTheWork) {
  for (const testing::HostileJpeg& bomb : testing::DecompressionBombs()) {
    if (!bomb.refused) continue;
    SCOPED_TRACE(bomb.name);
    Result<Image> image = DecodeJpeg(bomb.bytes, "bomb.jpg", nullptr, nullptr);
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().kind(), ErrorKind::TooLarge) << image.error().message();
    EXPECT_TRUE(Contains(image.error().message(), "bytes")) << image.error().message();
  }
}

// Enough bytes to pay for the work, but a progressive 4:4:4 picture of 2^28
// pixels needs 1.5 GiB of coefficients beside the picture itself.
TEST(JpegLimits, RefusesAPictureNeedingMoreWorkingMemoryThanTheCap) {
  const std::vector<uint8_t> jpeg = testing::PaddedProgressiveJpeg(16384, 4 << 20);
  Result<Image> image = DecodeJpeg(jpeg, "big.jpg", nullptr, nullptr);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().kind(), ErrorKind::TooLarge);
  EXPECT_TRUE(Contains(image.error().message(), "1024 MiB of working memory"))
      << image.error().message();
}

}  // namespace
}  // namespace zavo
