// Line-oriented text files as the old platform runtime handled them: lines
// read one at a time, written with CR LF, and files copied byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/file_io.h"

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

// The start of a text file, bytes unchanged: all of it when it fits in the
// limit, otherwise its whole lines within the limit.
struct TextHead {
  std::string text;
  bool cut = false;  // the file goes on past the limit
};

// Reads at most `limit` bytes of the regular file at `path`. The file is
// opened without waiting, so a FIFO or a device is refused, never read from
// or waited on; with Links::Refuse so is a symbolic link.
Result<TextHead> ReadTextHead(const std::string& path, size_t limit, Links links = Links::Follow);

// Appends `line` and its CR LF to `text`.
void AppendLine(std::string& text, std::string_view line);

// Puts `bytes` in place as the file `path` in one step, so `path` is never
// left half written and a failure leaves the old file as it was. A symbolic
// link in its place is refused, never written through.
Result<void> ReplaceFile(const std::string& path, std::string_view bytes);

}  // namespace zavo
