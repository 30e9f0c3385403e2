#include "platform/diagnostics.h"

#include <cstdio>

namespace zavo {
namespace {

StderrDiagnostics stderr_diagnostics;
Diagnostics* current = &stderr_diagnostics;

}  // namespace

std::string FoldToOneLine(const std::string& text) {
  std::string line;
  bool in_break = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!in_break) line += " / ";
      in_break = true;
      continue;
    }
    in_break = false;
    line += c;
  }
  return line;
}

// One write a line, flushed at once: the host may kill the process at any
// moment after a failure, and the line must be there.
void StderrDiagnostics::WriteLine(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

Diagnostics& CurrentDiagnostics() { return *current; }

ScopedDiagnostics::ScopedDiagnostics(Diagnostics& sink) : previous_(current) { current = &sink; }

ScopedDiagnostics::~ScopedDiagnostics() { current = previous_; }

}  // namespace zavo
