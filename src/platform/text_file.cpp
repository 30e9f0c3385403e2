#include "platform/text_file.h"

#include <algorithm>

#include "platform/file_io.h"

namespace zavo {

std::optional<std::string_view> LineReader::ReadLine() {
  if (position_ >= text_.size()) return std::nullopt;
  const size_t end = std::min(text_.find('\r', position_), text_.size());
  const std::string_view line = text_.substr(position_, end - position_);
  position_ = end + 1;
  if (end < text_.size() && position_ < text_.size() && text_[position_] == '\n') ++position_;
  ++line_number_;
  return line;
}

Result<std::string> ReadTextFile(const std::string& path) {
  auto file = MappedFile::Open(path);
  if (!file) return file.error();
  const auto bytes = file->bytes();
  return std::string(bytes.begin(), bytes.end());
}

void AppendLine(std::string& text, std::string_view line) {
  text += line;
  text += kLineEnd;
}

Result<void> CopyFileExactly(const std::string& from, const std::string& to) {
  auto source = MappedFile::Open(from);
  if (!source) return source.error();
  auto copy = AtomicFile::Create(to);
  if (!copy) return copy.error();
  ZAVO_TRY(copy->Write(source->bytes().data(), source->bytes().size()));
  return copy->Commit(Durability::Flushed);
}

}  // namespace zavo
