// Line-oriented text files as the old platform runtime handled them: lines
// read one at a time, written with CR LF, and files copied byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace zavo {

inline constexpr std::string_view kLineEnd = "\r\n";

// Splits text into lines: CR LF or a lone CR ends a line, a lone LF stays in
// the line's text, and the line end is not part of the line. A last line
// without a line end is still a line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  // The next line, or nullopt when the text is used up.
  std::optional<std::string_view> ReadLine();
  // The number of lines read so far: the number of the last one, from 1.
  size_t line_number() const { return line_number_; }

 private:
  std::string_view text_;
  size_t position_ = 0;
  size_t line_number_ = 0;
};

// The whole content of the file at `path`, bytes unchanged.
Result<std::string> ReadTextFile(const std::string& path);

// Appends `line` and its CR LF to `text`.
void AppendLine(std::string& text, std::string_view line);

// Replaces `to` by an exact copy of `from`. The copy is put in place in one
// step, so `to` is never left half written.
Result<void> CopyFileExactly(const std::string& from, const std::string& to);

}  // namespace zavo
