// The raw text, and the same bytes cut at NULs into an argument list.
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string line = text;
  zavo::CommandLineTokens tokens;
  zavo::SplitCommandLine(line, tokens);
  std::vector<std::string> arguments(1);
  for (char c : text) c == '\0' ? (void)arguments.emplace_back() : (void)(arguments.back() += c);
  tokens = zavo::TokenizeArguments(arguments);
  for (int i = 0; i < tokens.TokenCount; ++i) (void)tokens.Token(i);
  return 0;
}
