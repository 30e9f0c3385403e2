#include "platform/message_box.h"

#include <cstdio>

namespace zavo {

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

void StderrMessageBoxes::Show(const std::string& text, int /*style*/, const std::string& title) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), FoldToOneLine(text).c_str());
  std::fflush(stderr);
}

void ReportFailure(MessageBoxes& boxes, const std::string& text, int style,
                   const std::string& title) {
  std::fprintf(stderr, "zavo: %s: %s\n", title.c_str(), FoldToOneLine(text).c_str());
  std::fflush(stderr);
  if (boxes.on_screen()) boxes.Show(text, style, title);
}

}  // namespace zavo
