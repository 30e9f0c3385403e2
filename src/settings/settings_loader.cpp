// LoadSettings: applies "ZAVO.CNF" to the window's controls at start-up. A
// damaged file must never keep the add-in from starting, so every line that
// cannot be applied is skipped with a warning and the rest still applies.
#include <string>
#include <string_view>

#include "platform/runtime_text.h"
#include "platform/text_file.h"
#include "settings/settings.h"
#include "settings/settings_format.h"

namespace zavo {
namespace {

using settings_format::SettingKey;

// Where the loader is: the file's path and the number of the line being read.
struct LinePlace {
  const std::string& path;
  size_t number;
};

void WarnAt(const LinePlace& place, const std::string& reason) {
  settings_format::Warn(place.path + " line " + std::to_string(place.number) + ": " + reason);
}

// The settings file's text; on the first run it is made from the template.
Result<std::string> ReadOrCreateSettings(const std::string& app_folder) {
  const std::string path = app_folder + kSettingsFileName;
  auto text = ReadTextFile(path);
  if (text) return text;
  const auto copied = CopyFileExactly(app_folder + kTemplateFileName, path);
  if (!copied) {
    return Error(ErrorKind::Io,
                 text.error().message() +
                     ", and the template cannot be copied over it: " + copied.error().message());
  }
  return ReadTextFile(path);
}

void ApplyValue(const SettingKey& key, int16_t value, const LinePlace& place,
                SettingsTarget& target) {
  try {
    (target.*key.set)(value);
  } catch (const Error& error) {
    if (error.kind() != ErrorKind::InvalidValue) throw;
    const std::string reason = key.refusal.empty() ? error.message() : std::string(key.refusal);
    WarnAt(place, std::string(key.name) + " value " + std::to_string(value) + " refused (" +
                      reason + "); line skipped");
  }
}

void ApplyKeyLine(std::string_view line, const LinePlace& place, SettingsTarget& target) {
  const settings_format::KeyLine parts = settings_format::SplitKeyLine(line);
  const SettingKey* key = settings_format::FindSettingKey(parts.key);
  if (key == nullptr) return;
  auto value = RoundToInt16(ReadNumber(parts.value));
  if (!value) {
    WarnAt(place, std::string(key->name) + " value " + std::string(parts.value) +
                      " overflows (must be -32768 to 32767); line skipped");
    return;
  }
  ApplyValue(*key, *value, place, target);
}

}  // namespace

void LoadSettings(const std::string& app_folder, SettingsTarget& target) {
  const std::string path = app_folder + kSettingsFileName;
  auto text = ReadOrCreateSettings(app_folder);
  if (!text) {
    settings_format::Warn(text.error().message() + "; no settings loaded");
    return;
  }
  LineReader reader(*text);
  while (const auto line = reader.ReadLine()) {
    // Only the exact terminator counts here; "[EOF] " is an unknown key.
    if (*line == settings_format::kTerminator) return;
    if (settings_format::IsCommentLine(*line)) continue;
    ApplyKeyLine(*line, {path, reader.line_number()}, target);
  }
  WarnAt({path, reader.line_number() + 1},
         "the file ends without an \"[EOF]\" line; the values read before it are kept");
}

}  // namespace zavo
