// The settings file format shared by the loader and the saver: the line
// kinds, the grammar of a key line and the three keys with their targets.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace zavo::settings_format {

inline constexpr std::string_view kTerminator = "[EOF]";

// A key line cut into its parts by the file's grammar.
struct KeyLine {
  std::string_view key;      // the first four characters
  std::string_view value;    // the trimmed text after the first ","
  std::string_view comment;  // from the first "'" to the end, or empty
  bool has_comma = false;
};

// Trims the line, cuts off the inline comment and splits the rest at its
// first ","; without a "," the whole rest is the value text too (the saver
// keeps it for a key it does not know; the loader skips such a line).
KeyLine SplitKeyLine(std::string_view line);

// Some editors start a UTF-8 file with a byte-order mark. Left in place it
// would be part of the first line, and hide the key or comment there.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// `text` without its leading byte-order mark, if it has one, with a warning
// naming `path`.
std::string_view SkipByteOrderMark(std::string_view text, const std::string& path);

// The start of the warning about the text read from `path` that holds no
// "[EOF]" line: it ended, the size limit cut it (`cut`), or it uses LF line
// ends. `next_line` is the number of the line that did not come.
std::string MissingTerminator(const std::string& path, std::string_view text, size_t next_line,
                              bool cut);

inline bool IsCommentLine(std::string_view line) { return line.starts_with('\''); }

// A key the add-in knows and the target behind it.
struct SettingKey {
  std::string_view name;
  // Why the target refuses a value, for the warning; empty when it takes any.
  std::string_view refusal;
  int16_t (SettingsTarget::*get)() const;
  Result<void> (SettingsTarget::*set)(int16_t);
};

inline constexpr std::array<SettingKey, 3> kSettingKeys{{
    {"JPGQ", "quality must be 0 to 100", &SettingsTarget::JpegQuality,
     &SettingsTarget::SetJpegQuality},
    {"JPGB", "grayscale must be 0, 1 or 2", &SettingsTarget::JpegGrayscale,
     &SettingsTarget::SetJpegGrayscale},
    {"TIFM", "", &SettingsTarget::TiffCompressionFlag, &SettingsTarget::SetTiffCompressionFlag},
}};

// The known key spelt exactly `key` (case counts), or nullptr.
const SettingKey* FindSettingKey(std::string_view key);

// How long a save waits for another process's save before it goes on
// without the lock: far longer than any save takes.
inline constexpr std::chrono::milliseconds kLockPatience{5000};

// Text from a settings line for a warning: at most its first 200 characters,
// then "...", so a huge line cannot flood the terminal or a log.
std::string Quote(std::string_view text);

// One line "zavo: warning: <message>" of the process's diagnostics: the
// add-in goes on regardless.
void Warn(const std::string& message);

}  // namespace zavo::settings_format
