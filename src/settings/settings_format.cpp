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

namespace {

// An LF that is not the second half of a CR LF.
bool HasLoneLineFeed(std::string_view text) {
  for (size_t lf = text.find('\n'); lf != std::string_view::npos; lf = text.find('\n', lf + 1)) {
    if (lf == 0 || text[lf - 1] != '\r') return true;
  }
  return false;
}

}  // namespace

std::string MissingTerminator(const std::string& path, std::string_view text, size_t next_line,
                              bool cut) {
  const std::string at = path + " line " + std::to_string(next_line) + ": ";
  if (cut) {
    return at + "no \"[EOF]\" line within the first " + std::to_string(kSettingsSizeLimit) +
           " bytes";
  }
  // A lone LF stays in the line's text, so a file written with LF line ends
  // (as Linux editors do) reads as one long line, never as "[EOF]".
  if (HasLoneLineFeed(text)) {
    return path +
           " uses LF line ends; lines must end with CR LF or CR, so it has no \"[EOF]\" line";
  }
  return at + "the file ends without an \"[EOF]\" line";
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
