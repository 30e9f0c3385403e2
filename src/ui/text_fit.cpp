#include "ui/text_fit.h"

namespace zavo::ui {
namespace {

constexpr std::string_view kEllipsis = "…";

// The end of the UTF-8 character starting at `at`: past its continuation
// bytes, so that no break ever splits a character.
size_t CharEnd(std::string_view text, size_t at) {
  size_t end = at + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return end;
}

// Where the first line of `line` that fits in `width` ends.
size_t FittingLineEnd(std::string_view line, double width, const TextMeasure& measure) {
  size_t fits = 0;
  size_t after_break = 0;
  for (size_t at = 0; at < line.size();) {
    const size_t end = CharEnd(line, at);
    if (measure(line.substr(0, end)) > width) break;
    if (line[at] == '/' || line[at] == ' ') after_break = end;
    fits = end;
    at = end;
  }
  if (after_break > 0) return after_break;
  return fits > 0 ? fits : CharEnd(line, 0);
}

void AppendWrapped(std::string_view line, double width, const TextMeasure& measure,
                   std::string& out) {
  while (measure(line) > width) {
    const size_t end = FittingLineEnd(line, width, measure);
    if (end >= line.size()) break;
    out.append(line.substr(0, end)).append("\n");
    line.remove_prefix(end);
  }
  out.append(line);
}

}  // namespace

std::string WrapToWidth(std::string_view text, double width, const TextMeasure& measure) {
  std::string out;
  for (size_t start = 0;;) {
    const size_t end = text.find('\n', start);
    AppendWrapped(text.substr(start, end - start), width, measure, out);
    if (end == std::string_view::npos) return out;
    out += '\n';
    start = end + 1;
  }
}

std::string ElideStart(std::string_view text, double width, const TextMeasure& measure) {
  if (measure(text) <= width) return std::string(text);
  for (size_t start = CharEnd(text, 0); start < text.size(); start = CharEnd(text, start)) {
    std::string shown = std::string(kEllipsis).append(text.substr(start));
    if (measure(shown) <= width) return shown;
  }
  return std::string(kEllipsis);
}

}  // namespace zavo::ui
