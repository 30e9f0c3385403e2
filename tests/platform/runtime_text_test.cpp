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

struct NumberCase {
  const char* text;
  double expected;
};

class ReadNumberTable : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumberTable, ReadsLikeTheOldRuntime) {
  EXPECT_DOUBLE_EQ(ReadNumber(GetParam().text), GetParam().expected)
      << '"' << GetParam().text << '"';
}

const NumberCase kNumberCases[] = {
    {"60", 60},
    {"-3", -3},
    {"+7", 7},
    // Blanks, tabs and line feeds are skipped anywhere, even after the sign.
    {" 6 0", 60},
    {"\t6\t0\t", 60},
    {"6\n0", 60},
    {"- 3", -3},
    {"12,5", 12},  // a comma ends the number
    {"12abc", 12},
    {"abc", 0},
    {"", 0},
    {"   ", 0},
    {"--3", 0},
    {".", 0},
    {"1.5", 1.5},
    {".5", 0.5},
    {"5.", 5},
    {"1.2.3", 1.2},
    {"1E2", 100},
    {"1E+2", 100},
    {"25E-1", 2.5},
    {"1 E 2", 100},
    {"1E", 1},  // an exponent without digits is no exponent
    {"1E-", 1},
    {"1Ex", 1},
    {"1E-400", 0},
    {"&HFF", 255},
    {"&hff", 255},
    {"&H1g", 1},
    {"&H", 0},
    {"& H 1 0", 16},
    {"&O17", 15},
    {"&O78", 7},
    {"-&H10", 0},
    {"&17", 0},
};

INSTANTIATE_TEST_SUITE_P(RuntimeText, ReadNumberTable, ::testing::ValuesIn(kNumberCases));

TEST(RuntimeText, ReadsHugeExponentsAsInfinity) {
  EXPECT_EQ(ReadNumber("1E400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(ReadNumber("-1E400"), -std::numeric_limits<double>::infinity());
}

TEST(RuntimeText, ReadsAPointWhateverTheLocale) {
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  if (german == nullptr) german = std::setlocale(LC_NUMERIC, "de_DE");
  EXPECT_DOUBLE_EQ(ReadNumber("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(ReadNumber("1,5"), 1);
  std::setlocale(LC_NUMERIC, "C");
  if (german == nullptr) GTEST_SKIP() << "no German locale installed; read in the C locale only";
}

struct RoundCase {
  double number;
  std::optional<int16_t> expected;  // nullopt: overflow
};

class RoundToInt16Table : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundToInt16Table, RoundsHalvesToEvenAndReportsOverflow) {
  const auto result = RoundToInt16(GetParam().number);
  if (GetParam().expected) {
    ASSERT_TRUE(result.ok()) << result.error().message();
    EXPECT_EQ(result.value(), *GetParam().expected);
  } else {
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind(), ErrorKind::Overflow);
  }
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

const RoundCase kRoundCases[] = {
    {50.5, 50},
    {51.5, 52},
    {1.5, 2},
    {0.5, 0},
    {2.5, 2},
    {-0.5, 0},
    {-1.5, -2},
    {-2.5, -2},
    {0.49999, 0},
    {0.50001, 1},
    {-7.6, -8},
    {32767, 32767},
    {32767.4, 32767},
    {32766.5, 32766},
    {-32768, -32768},
    {-32768.5, -32768},
    {32767.5, std::nullopt},
    {32768, std::nullopt},
    {-32769, std::nullopt},
    {-32768.6, std::nullopt},
    {kInfinity, std::nullopt},
    {-kInfinity, std::nullopt},
    {std::nan(""), std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(RuntimeText, RoundToInt16Table, ::testing::ValuesIn(kRoundCases));

TEST(RuntimeText, NamesTheNumberThatOverflows) {
  EXPECT_EQ(RoundToInt16(32768).error().message(), "number 32768 is outside -32768 to 32767");
}

TEST(RuntimeText, WritesNumbersInSignPositionForm) {
  EXPECT_EQ(SignPositionText(75), " 75");
  EXPECT_EQ(SignPositionText(0), " 0");
  EXPECT_EQ(SignPositionText(-3), "-3");
  EXPECT_EQ(SignPositionText(32767), " 32767");
  EXPECT_EQ(SignPositionText(-32768), "-32768");
}

TEST(RuntimeText, TrimsBlanksButNeverTabs) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimBlanks(" \ta "), "\ta");
  EXPECT_EQ(TrimBlanks("    "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

TEST(RuntimeText, TakesLeadingCharactersWithoutSplittingALetter) {
  EXPECT_EQ(LeadingChars("JPGQUALITY", 4), "JPGQ");
  EXPECT_EQ(LeadingChars("JPG", 4), "JPG");
  EXPECT_EQ(LeadingChars("画質設定値", 4), "画質設定");
  EXPECT_EQ(LeadingChars("aé€😀b", 4), "aé€😀");
  EXPECT_EQ(LeadingChars("\x80\x80"
                         "abc",
                         2),
            "\x80\x80"
            "a");  // a stray byte counts as one
}

std::vector<std::string> AllLines(std::string_view text) {
  std::vector<std::string> lines;
  LineReader reader(text);
  while (const auto line = reader.ReadLine()) lines.emplace_back(*line);
  return lines;
}

using Lines = std::vector<std::string>;

TEST(TextFile, EndsLinesAtCrLfOrALoneCrButNotAtALoneLf) {
  EXPECT_EQ(AllLines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(AllLines("a\rb\r"), (Lines{"a", "b"}));
  EXPECT_EQ(AllLines("a\nb\r\nc"), (Lines{"a\nb", "c"}));
  EXPECT_EQ(AllLines("a\r\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(AllLines("\r\n\r\n"), (Lines{"", ""}));
  EXPECT_EQ(AllLines("\n"), (Lines{"\n"}));
  EXPECT_EQ(AllLines(""), Lines{});
}

TEST(TextFile, CountsTheLinesRead) {
  LineReader reader("one\r\ntwo\rthree");
  EXPECT_EQ(reader.line_number(), 0u);
  while (reader.ReadLine()) {
  }
  EXPECT_EQ(reader.line_number(), 3u);
  EXPECT_FALSE(reader.ReadLine().has_value());
  EXPECT_EQ(reader.line_number(), 3u);
}

TEST(TextFile, WritesEachLineWithCrLf) {
  std::string text;
  AppendLine(text, "a");
  AppendLine(text, "");
  EXPECT_EQ(text, "a\r\n\r\n");
}

TEST(TextFile, ReplacesAFileAndReadsItBackByteForByte) {
  testing::TempDir dir;
  const std::string bytes(
      "x\r\n\0\xff\xfe"
      "画\n\r",
      10);
  testing::WriteText(dir.File("to"), "old and longer content");
  ASSERT_TRUE(ReplaceFile(dir.File("to"), bytes).ok());
  const auto read = ReadTextHead(dir.File("to"), bytes.size());
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->text, bytes);
  EXPECT_FALSE(read->cut);
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

TEST(TextFile, ReportsAMissingFile) {
  testing::TempDir dir;
  const auto read = ReadTextHead(dir.File("absent"), 100);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().kind(), ErrorKind::Io);
}

}  // namespace
}  // namespace zavo
