#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"

namespace zavo {
namespace {

std::vector<std::string> Split(std::string line) {
  CommandLineTokens tokens;
  SplitCommandLine(line, tokens);
  return {tokens.TokenList.begin(), tokens.TokenList.begin() + tokens.TokenCount};
}

std::vector<std::string> FromArguments(const std::vector<std::string>& arguments) {
  const CommandLineTokens tokens = TokenizeArguments(arguments);
  return {tokens.TokenList.begin(), tokens.TokenList.begin() + tokens.TokenCount};
}

using Tokens = std::vector<std::string>;

TEST(SplitCommandLine, EmptyOrBlankLinesGiveNoTokens) {
  EXPECT_EQ(Split(""), Tokens{});
  EXPECT_EQ(Split("     "), Tokens{});
  EXPECT_EQ(Split("/"), Tokens{});
}

TEST(SplitCommandLine, CutsBeforeEverySlashAndTrimsBlanks) {
  const Tokens expected{"/R", "/ON=A.JPG", "/FN=B.BMP"};
  EXPECT_EQ(Split("/R/ON=A.JPG/FN=B.BMP"), expected);
  EXPECT_EQ(Split("  /R /ON=A.JPG   /FN=B.BMP "), expected);
}

TEST(SplitCommandLine, TextBeforeTheFirstSlashIsATokenOfItsOwn) {
  EXPECT_EQ(Split("X /R"), (Tokens{"X", "/R"}));
}

TEST(SplitCommandLine, KeepsOnlyTheFirstTenTokens) {
  EXPECT_EQ(Split("/A/B/C/D/E/F/G/H/I/J/K/L"),
            (Tokens{"/A", "/B", "/C", "/D", "/E", "/F", "/G", "/H", "/I", "/J"}));
}

TEST(SplitCommandLine, ASlashInsideAValueCutsIt) {
  EXPECT_EQ(Split("/ON=C:/IMG/A.JPG"), (Tokens{"/ON=C:", "/IMG", "/A.JPG"}));
}

TEST(SplitCommandLine, KeepsBlanksInsideATokenAndTabsAtItsEnds) {
  EXPECT_EQ(Split("/ON= C:\\A.JPG"), (Tokens{"/ON= C:\\A.JPG"}));
  EXPECT_EQ(Split("/R\t/W"), (Tokens{"/R\t", "/W"}));
}

TEST(SplitCommandLine, LeavesTheLineTrimmedAndEndingInASlash) {
  std::string line = "  /R /JPG  ";
  CommandLineTokens tokens;
  EXPECT_EQ(SplitCommandLine(line, tokens), 0);
  EXPECT_EQ(line, "/R /JPG/");
}

TEST(SplitCommandLine, ScansALineOfAnyLength) {
  const std::string value(70000, 'x');
  EXPECT_EQ(Split("/R /ON=" + value + " /FN=B"), (Tokens{"/R", "/ON=" + value, "/FN=B"}));
}

TEST(CommandLineTokens, RefusesSlotsOutsideZeroToTen) {
  CommandLineTokens tokens;
  EXPECT_EQ(tokens.Token(10).value(), "");
  EXPECT_EQ(tokens.Token(11).error().kind(), ErrorKind::InvalidValue);
  EXPECT_EQ(tokens.Token(-1).error().kind(), ErrorKind::InvalidValue);
}

TEST(TokenizeArguments, KeepsWholePathsOfTargetAndTransferArguments) {
  EXPECT_EQ(FromArguments({"/GP", "/R", "/JPG", "/ON=/home/me/a b.jpg", "/FN=/tmp/t.bmp"}),
            (Tokens{"/GP", "/R", "/JPG", "/ON=/home/me/a b.jpg", "/FN=/tmp/t.bmp"}));
}

// A file name may begin or end with a blank; dropping one names another file.
TEST(TokenizeArguments, KeepsEveryBlankAfterTheEqualsSign) {
  EXPECT_EQ(FromArguments({" /ON= /x/y.jpg ", "  /FN=t.bmp  "}),
            (Tokens{"/ON= /x/y.jpg ", "/FN=t.bmp  "}));
}

TEST(TokenizeArguments, SplitsOtherArgumentsLikeRawText) {
  EXPECT_EQ(FromArguments({"/R/JPG "}), (Tokens{"/R", "/JPG"}));
  EXPECT_EQ(FromArguments({"X", "", "/W"}), (Tokens{"X", "/W"}));
}

TEST(TokenizeArguments, KeepsTenTokensInAll) {
  std::vector<std::string> arguments(12, "/ON=/a/b");
  arguments.insert(arguments.begin(), "/R/W");
  const Tokens tokens = FromArguments(arguments);
  ASSERT_EQ(tokens.size(), 10u);
  EXPECT_EQ(tokens[1], "/W");
  EXPECT_EQ(tokens[9], "/ON=/a/b");
}

}  // namespace
}  // namespace zavo
