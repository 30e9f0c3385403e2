#include "ui/text_fit.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
  // Text, width, wrapped and elided.
  const std::tuple<const char*, double, const char*, const char*> cases[] = {
      {"/home/me/a.jpg", 14, "/home/me/a.jpg", "/home/me/a.jpg"},
      {"/a/averyveryverylongname.jpg", 10, "/a/\naveryveryv\nerylongnam\ne.jpg", "…gname.jpg"},
      {"/写真/休日の写真.jpg", 8, "/写真/\n休日の写真.jp\ng", "…の写真.jpg"},
      {"cannot write:\n/home/me/x/y.jpg", 10, "cannot \nwrite:\n/home/me/\nx/y.jpg", "…e/x/y.jpg"},
      {"/写真", 0.5, "/\n写\n真", "…"},  // a character wider than the box
  };
  for (const auto& [text, width, wrapped, elided] : cases) {
    EXPECT_EQ(WrapToWidth(text, width, Characters), wrapped) << text;
    EXPECT_EQ(ElideStart(text, width, Characters), elided) << text;
  }
}

}  // namespace
}  // namespace zavo::ui
