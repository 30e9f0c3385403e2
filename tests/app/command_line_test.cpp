#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zavo {
namespace {

using Tokens = std::vector<std::string>;

Tokens Listed(const CommandLineTokens& tokens) {
  return {tokens.TokenList.begin(), tokens.TokenList.begin() + tokens.TokenCount};
}

TEST(SplitCommandLine, CutsBeforeEverySlashTrimsBlanksAndKeepsTenTokens) {
  const std::string long_value(70000, 'x');
  const std::pair<std::string, Tokens> cases[] = {
      {"", {}},
      {"     ", {}},
      {"  /R /ON=A.JPG   /FN=B.BMP ", {"/R", "/ON=A.JPG", "/FN=B.BMP"}},
      {"X /R", {"X", "/R"}},
      {"/ON=C:/IMG/A.JPG", {"/ON=C:", "/IMG", "/A.JPG"}},
      {"/ON= C:\\A.JPG", {"/ON= C:\\A.JPG"}},
      {"/R\t/W", {"/R\t", "/W"}},  // tabs are no blanks
      {"/A/B/C/D/E/F/G/H/I/J/K/L", {"/A", "/B", "/C", "/D", "/E", "/F", "/G", "/H", "/I", "/J"}},
      {"/R /ON=" + long_value + " /FN=B", {"/R", "/ON=" + long_value, "/FN=B"}}};
  for (auto [line, expected] : cases) {
    CommandLineTokens tokens;
    EXPECT_EQ(SplitCommandLine(line, tokens), 0);
    EXPECT_EQ(Listed(tokens), expected) << line.substr(0, 40);
  }
}

// Target and transfer arguments are whole paths: a file name may hold a
// slash or begin or end with a blank. Other arguments split like raw text.
TEST(TokenizeArguments, KeepsWholePathsAndSplitsTheRest) {
  std::vector<std::string> twelve(12, "/ON=/a/b");
  twelve.insert(twelve.begin(), "/R/W");
  const std::pair<std::vector<std::string>, Tokens> cases[] = {
      {{"/GP", "/ON=/home/me/a b.jpg", "/FN=/tmp/t.bmp"},
       {"/GP", "/ON=/home/me/a b.jpg", "/FN=/tmp/t.bmp"}},
      {{" /ON= /x/y.jpg ", "  /FN=t.bmp  "}, {"/ON= /x/y.jpg ", "/FN=t.bmp  "}},
      {{"/R/JPG ", "X", "", "/W"}, {"/R", "/JPG", "X", "/W"}},
      {twelve,
       {"/R", "/W", "/ON=/a/b", "/ON=/a/b", "/ON=/a/b", "/ON=/a/b", "/ON=/a/b", "/ON=/a/b",
        "/ON=/a/b", "/ON=/a/b"}}};
  for (const auto& [arguments, expected] : cases) {
    EXPECT_EQ(Listed(TokenizeArguments(arguments)), expected) << arguments[0];
  }
}

}  // namespace
}  // namespace zavo
