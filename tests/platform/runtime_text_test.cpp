#include "platform/runtime_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/text_file.h"
#include "support/test_support.h"

namespace zavo {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Blanks, tabs and line feeds are skipped anywhere, even after the sign; an
// exponent without digits is no exponent.
TEST(RuntimeText, ReadsNumbersLikeTheOldRuntime) {
  // clang-format off
  const std::pair<const char*, double> cases[] = {
      {"60", 60}, {"-3", -3}, {"+7", 7}, {"abc", 0}, {"", 0}, {"--3", 0}, {".", 0}, {" 6 0", 60},
      {"\t6\t0\t", 60}, {"6\n0", 60}, {"- 3", -3}, {"12,5", 12}, {"12abc", 12}, {"1.5", 1.5},
      {".5", 0.5}, {"5.", 5}, {"1.2.3", 1.2}, {"1E2", 100}, {"1e+2", 100}, {"25E-1", 2.5},
      {"1 E 2", 100}, {"1E-400", 0}, {"1E400", kInfinity}, {"-1E400", -kInfinity}, {"1E", 1},
      {"1E-", 1}, {"1Ex", 1}, {"&HFF", 255}, {"&hff", 255}, {"&H1g", 1}, {"&H", 0},
      {"& H 1 0", 16}, {"&HaF", 175}, {"&O17", 15}, {"&O78", 7}, {"-&H10", 0}, {"&17", 0}};
  // clang-format on
  for (const auto& [text, expected] : cases) EXPECT_DOUBLE_EQ(ReadNumber(text), expected) << text;
}

TEST(RuntimeText, ReadsAPointWhateverTheLocale) {
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_DOUBLE_EQ(ReadNumber("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(ReadNumber("1,5"), 1);
  std::setlocale(LC_NUMERIC, "C");
  if (german == nullptr) GTEST_SKIP() << "no German locale installed; read in the C locale only";
}

TEST(RuntimeText, RoundsHalvesToEvenAndReportsOverflow) {
  // clang-format off
  const std::pair<double, std::optional<int16_t>> cases[] = {
      {50.5, 50}, {51.5, 52}, {0.5, 0}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {0.49999, 0},
      {0.50001, 1}, {-7.6, -8}, {32767.4, 32767}, {32766.5, 32766}, {-32768.5, -32768},
      {32767.5, {}}, {32768, {}}, {-32769, {}}, {-32768.6, {}}, {kInfinity, {}}, {-kInfinity, {}},
      {std::nan(""), {}}};
  // clang-format on
  for (const auto& [number, expected] : cases) {
    const auto rounded = RoundToInt16(number);
    ASSERT_EQ(rounded.ok(), expected.has_value()) << number;
    if (expected) {
      EXPECT_EQ(rounded.value(), *expected) << number;
    } else {
      EXPECT_EQ(rounded.error().kind(), ErrorKind::Overflow) << number;
    }
  }
  EXPECT_EQ(RoundToInt16(32768).error().message(), "number 32768 is outside -32768 to 32767");
}

TEST(RuntimeText, WritesSignPositionTrimsBlanksAndCutsWholeLetters) {
  EXPECT_EQ(SignPositionText(75) + SignPositionText(0) + SignPositionText(-32768), " 75 0-32768");
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks(" \ta\t "), "\ta\t");  // never tabs
  EXPECT_EQ(TrimBlanks("    "), "");
  EXPECT_EQ(LeadingChars("JPGQUALITY", 4), "JPGQ");
  EXPECT_EQ(LeadingChars("JPG", 4), "JPG");
  EXPECT_EQ(LeadingChars("aé€😀b", 4), "aé€😀");
  EXPECT_EQ(LeadingChars("\x80\x80z.", 2), "\x80\x80z");  // stray bytes count as one
}

TEST(TextFile, EndsLinesAtCrLfOrALoneCrButNotAtALoneLfAndCountsThem) {
  LineReader reader("a\r\nb\rc\nd\r\r\ne");
  std::vector<std::string> lines;
  while (const auto line = reader.ReadLine()) lines.emplace_back(*line);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c\nd", "", "e"}));
  EXPECT_EQ(reader.line_number(), 5u);
  EXPECT_FALSE(reader.ReadLine());
  EXPECT_EQ(reader.line_number(), 5u);
  std::string text;
  AppendLine(text, "a");
  AppendLine(text, "");
  EXPECT_EQ(text, "a\r\n\r\n");
}

TEST(TextFile, ReplacesAFileAndReadsItBackByteForByte) {
  testing::TempDir dir;
  const std::string bytes("x\r\n\0\xff\xfe画\n\r", 11);
  testing::WriteText(dir.File("f"), "old and longer content");
  ASSERT_TRUE(ReplaceFile(dir.File("f"), bytes).ok());
  const auto read = ReadTextHead(dir.File("f"), bytes.size());
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->text, bytes);
  EXPECT_FALSE(read->cut);
  EXPECT_EQ(ReadTextHead(dir.File("absent"), 100).error().kind(), ErrorKind::Io);
}

// Beyond the limit the text ends at its last line end (a CR), never inside a line.
TEST(TextFile, CutsTheHeadBackToTheLastLineEnd) {
  testing::TempDir dir;
  testing::WriteText(dir.File("f"), "ab\rcd\r\nef");
  const std::pair<size_t, const char*> cases[] = {{6, "ab\rcd\r"}, {5, "ab\r"}, {2, ""}};
  for (const auto& [limit, head] : cases) {
    const auto read = ReadTextHead(dir.File("f"), limit);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->text, head) << limit;
    EXPECT_TRUE(read->cut) << limit;
  }
}

}  // namespace
}  // namespace zavo
