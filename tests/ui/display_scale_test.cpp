#include "ui/display_scale.h"

#include <gtest/gtest.h>

namespace zavo::ui {
namespace {

TEST(DisplayScale, TakesXftDpiWhenItIsAResolutionAnd96Otherwise) {
  const struct {
    const char* resource;
    double twips_per_pixel;
  } cases[] = {
      {nullptr, 15}, {"96", 15},     {"192", 7.5}, {"144.0", 10}, {" 120 ", 12}, {"", 15},
      {"abc", 15},   {"192dpi", 15}, {"0", 15},    {"-192", 15},  {"1e9", 15},   {"nan", 15},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(DisplayScale::FromXftDpi(c.resource).twips_per_pixel(), c.twips_per_pixel)
        << (c.resource != nullptr ? c.resource : "(unset)");
  }
}

TEST(DisplayScale, RoundsTwipsAndPointsToTheNearestPixel) {
  const DisplayScale at96;
  const DisplayScale at192(192);
  EXPECT_EQ(at96.Pixels(3135), 209);
  EXPECT_EQ(at96.Pixels(7), 0);
  EXPECT_EQ(at96.Pixels(8), 1);
  EXPECT_EQ(at192.Pixels(3135), 418);
  EXPECT_EQ(at192.Twips(5), 38);  // 37.5 rounds away from zero
  EXPECT_EQ(at96.FontPixels(9), 12);
  EXPECT_EQ(at192.FontPixels(9), 24);
  EXPECT_EQ(at192.Scaled(12), 24);
}

}  // namespace
}  // namespace zavo::ui
