// The host's command-line tokens: "/"-introduced words such as /GP, /R, /W,
// /JPG, /TIF, /GIF, /ON=path and /FN=path; at most ten are kept, in order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"

namespace zavo {

inline constexpr int kMaxTokens = 10;

struct CommandLineTokens {
  // Eleven slots as the host's protocol defines them; only 0..9 are filled.
  std::array<std::string, kMaxTokens + 1> TokenList;
  int16_t TokenCount = 0;

  // Slot `index`, checked against 0..10 (Error InvalidValue outside).
  Result<std::string> Token(int index) const;
};

// Splits one raw command-line text: trims it, ends it with "/", and cuts it
// before every "/" into blank-trimmed tokens, up to the ten-token limit.
// The text is left trimmed and ending in "/". Any length is scanned.
int SplitCommandLine(std::string& line, CommandLineTokens& tokens);

// The tokens of a process's argument list. An argument that begins with
// "/ON=" or "/FN=" (after any leading blanks) is one whole token, so a path
// keeps its "/"s and every blank after the "="; every other argument is
// split like raw command-line text. Ten tokens at most in all.
CommandLineTokens TokenizeArguments(const std::vector<std::string>& arguments);

}  // namespace zavo
