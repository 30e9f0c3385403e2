#include "app/command_line.h"

#include "platform/error.h"
#include "platform/runtime_text.h"

namespace zavo {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Stores `token` in the next free slot; false when the ten slots are full.
bool Store(CommandLineTokens& tokens, std::string token) {
  if (tokens.TokenCount >= kMaxTokens) return false;
  tokens.TokenList[tokens.TokenCount++] = std::move(token);
  return true;
}

}  // namespace

Result<std::string> CommandLineTokens::Token(int index) const {
  if (index < 0 || index > kMaxTokens) {
    return Error(ErrorKind::InvalidValue, "token index " + std::to_string(index) + " out of range");
  }
  return TokenList[index];
}

int SplitCommandLine(std::string& line, CommandLineTokens& tokens) {
  line = std::string(TrimBlanks(line));
  if (line.empty() || line.back() != '/') line += '/';
  // 0-based: the first token starts at the first character whatever it is.
  size_t start = 0;
  for (size_t pos = 1; pos < line.size(); ++pos) {
    if (line[pos] != '/') continue;
    const std::string_view token = std::string_view(line).substr(start, pos - start);
    if (!Store(tokens, std::string(TrimBlanks(token)))) break;
    start = pos;
  }
  return 0;
}

CommandLineTokens TokenizeArguments(const std::vector<std::string>& arguments) {
  CommandLineTokens tokens;
  for (const std::string& argument : arguments) {
    if (tokens.TokenCount >= kMaxTokens) break;
    // Blanks before the "/" only separate arguments; after the "=" they
    // belong to the file name, which may begin or end with one.
    const size_t first = argument.find_first_not_of(' ');
    const std::string token = first == std::string::npos ? std::string() : argument.substr(first);
    if (StartsWith(token, "/ON=") || StartsWith(token, "/FN=")) {
      Store(tokens, token);
      continue;
    }
    std::string line = argument;
    SplitCommandLine(line, tokens);
  }
  return tokens;
}

}  // namespace zavo
