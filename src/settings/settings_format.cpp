#include "settings/settings_format.h"

#include <algorithm>

#include "platform/diagnostics.h"
#include "platform/runtime_text.h"

namespace zavo::settings_format {

KeyLine SplitKeyLine(std::string_view line) {
  const std::string_view trimmed = TrimBlanks(line);
  // The rest is not trimmed again after the comment is cut off: the blank
  // before "'" ends up in the value text, which is trimmed on its own.
  const size_t quote = std::min(trimmed.find('\''), trimmed.size());
  const std::string_view rest = trimmed.substr(0, quote);
  const size_t comma = rest.find(',');
  const bool has_comma = comma != std::string_view::npos;
  const std::string_view value = has_comma ? rest.substr(comma + 1) : rest;
  return {LeadingChars(rest, 4), TrimBlanks(value), trimmed.substr(quote), has_comma};
}

std::string_view SkipByteOrderMark(std::string_view text, const std::string& path) {
  if (!text.starts_with(kByteOrderMark)) return text;
  Warn(path + " starts with a UTF-8 byte-order mark; it is skipped");
  return text.substr(kByteOrderMark.size());
}

const SettingKey* FindSettingKey(std::string_view key) {
  for (const SettingKey& known : kSettingKeys) {
    if (known.name == key) return &known;
  }
  return nullptr;
}

std::string Quote(std::string_view text) {
  constexpr size_t kQuotedChars = 200;
  const std::string_view shown = LeadingChars(text, kQuotedChars);
  return std::string(shown) + (shown.size() < text.size() ? "..." : "");
}

void Warn(const std::string& message) { CurrentDiagnostics().Warning(message); }

}  // namespace zavo::settings_format
