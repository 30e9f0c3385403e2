#include "ui/text_fit.h"

#include <gtest/gtest.h>

#include <string>

namespace zavo::ui {
namespace {

// One unit per character, so the expected breaks can be counted by eye.
double Characters(std::string_view text) {
  double count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return count;
}

// Wrapped lines end after a "/" or blank where one fits; elided text keeps the end.
TEST(TextFit, WrapsLinesWithinTheWidthAndElidesTheStart) {
  const struct {
    const char* text;
    double width;
    const char* wrapped;
    const char* elided;
  } cases[] = {
      {"/home/me/a.jpg", 14, "/home/me/a.jpg", "/home/me/a.jpg"},
      {"/home/me/photos/2024/holiday.jpg", 12, "/home/me/\nphotos/2024/\nholiday.jpg",
       "…holiday.jpg"},
      {"/a/averyveryverylongname.jpg", 10, "/a/\naveryveryv\nerylongnam\ne.jpg", "…gname.jpg"},
      {"/写真/休日の写真.jpg", 8, "/写真/\n休日の写真.jp\ng", "…の写真.jpg"},
      {"cannot write:\n/home/me/x/y.jpg", 10, "cannot \nwrite:\n/home/me/\nx/y.jpg", "…e/x/y.jpg"},
      {"/写真", 0.5, "/\n写\n真", "…"},  // a character wider than the box
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WrapToWidth(c.text, c.width, Characters), c.wrapped) << c.text;
    EXPECT_EQ(ElideStart(c.text, c.width, Characters), c.elided) << c.text;
  }
}

}  // namespace
}  // namespace zavo::ui
