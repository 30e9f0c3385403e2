#include "platform/runtime_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace zavo {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Blanks, tabs and line feeds are skipped anywhere, even after the sign; an
// exponent without digits is no exponent.
TEST(RuntimeText, ReadsNumbersLikeTheOldRuntime) {
  // clang-format off
  const std::pair<const char*, double> cases[] = {
      {"-3", -3}, {"+7", 7}, {"abc", 0}, {"", 0}, {"--3", 0}, {".", 0}, {" 6 0", 60}, {"- 3", -3},
      {"\t6\t0\t", 60}, {"6\n0", 60}, {"12,5", 12}, {".5", 0.5}, {"5.", 5}, {"1.2.3", 1.2},
      {"1e+2", 100}, {"25E-1", 2.5}, {"1 E 2", 100}, {"1E-400", 0}, {"1E400", kInfinity},
      {"-1E400", -kInfinity}, {"1E", 1}, {"1E-", 1}, {"&hff", 255}, {"&H1g", 1}, {"&H", 0},
      {"& H 1 0", 16}, {"&HaF", 175}, {"&O78", 7}, {"-&H10", 0}, {"&17", 0}};
  // clang-format on
  for (const auto& [text, expected] : cases) EXPECT_DOUBLE_EQ(ReadNumber(text), expected) << text;
}

// scripts/setup.sh test makes the locale; its separator is a comma, so a
// reading through strtod or a stream would take "1,5" and stop at ".".
TEST(RuntimeText, ReadsAPointWhateverTheLocale) {
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "run scripts/setup.sh test";
  const std::string separator = std::localeconv()->decimal_point;
  const double point = ReadNumber("1.5"), comma = ReadNumber("1,5");
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(separator, ",");
  EXPECT_DOUBLE_EQ(point, 1.5);
  EXPECT_DOUBLE_EQ(comma, 1);
}

TEST(RuntimeText, RoundsHalvesToEvenAndReportsOverflow) {
  // clang-format off
  const std::pair<double, std::optional<int16_t>> cases[] = {
      {51.5, 52}, {0.5, 0}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {0.49999, 0}, {0.50001, 1},
      {-7.6, -8}, {32767.4, 32767}, {32766.5, 32766}, {-32768.5, -32768}, {32767.5, {}},
      {-32768.6, {}}, {std::nan(""), {}}};
  // clang-format on
  for (const auto& [number, expected] : cases) {
    const auto rounded = RoundToInt16(number);
    EXPECT_EQ(rounded.ok() ? std::optional(rounded.value()) : std::nullopt, expected) << number;
  }
  EXPECT_EQ(RoundToInt16(32768).error().message(), "number 32768 is outside -32768 to 32767");
}

// Stray bytes count as one letter.
TEST(RuntimeText, CutsWholeLetters) {
  EXPECT_EQ(LeadingChars("aé€😀b", 4), "aé€😀");
  EXPECT_EQ(LeadingChars("\x80\x80z.", 2), "\x80\x80z");
}

}  // namespace
}  // namespace zavo
