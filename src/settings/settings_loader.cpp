// LoadSettings: applies "ZAVO.CNF" to the window's controls at start-up. A
// damaged file must never keep the add-in from starting, so every line that
// cannot be applied is skipped with a warning and the rest still applies.
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_lock.h"
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

// Only a file that is not there at all is made as a copy; one that is
// there but cannot be read (no permission, a FIFO, a folder, a dangling link)
// belongs to someone and is left as it is.
bool IsMissing(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// The file's text without a byte-order mark, so a copy of it has none either.
Result<TextHead> ReadSettingsText(const std::string& path, Links links = Links::Follow) {
  auto head = ReadTextHead(path, kSettingsSizeLimit, links);
  if (head) head->text = std::string(settings_format::SkipByteOrderMark(head->text, path));
  return head;
}

// The text to load and the path to name in warnings about it.
struct SettingsSource {
  std::string path;
  TextHead head;
};

// The template's text, or nothing (with a warning) when it cannot be read.
std::optional<SettingsSource> ReadTemplate(const SettingsFiles& files) {
  auto head = ReadSettingsText(files.template_path);
  if (head) return SettingsSource{files.template_path, std::move(head.value())};
  settings_format::Warn(head.error().message() + "; no settings loaded");
  return std::nullopt;
}

// What a missing settings file starts from: where the settings live apart
// from a read-only installation, the "ZAVO.CNF" that stands beside the
// executable (the administrator's choice for every user), else the template.
std::optional<SettingsSource> ReadStartingPoint(const SettingsFiles& files) {
  const std::string& beside = files.program_settings_path;
  if (!beside.empty() && !IsMissing(beside)) {
    auto head = ReadSettingsText(beside);
    if (head) return SettingsSource{beside, std::move(head.value())};
    settings_format::Warn(head.error().message() + "; starting from the template's values");
  }
  return ReadTemplate(files);
}

// The first run: the settings file becomes a copy of its starting point,
// whose values apply either way. A folder that cannot hold the file at all
// has no settings folder (files.folder is empty) and never gets here: the
// close reports that once.
void CopyIfStillMissing(const SettingsFiles& files, const SettingsSource& source) {
  const std::string path = files.folder + kSettingsFileName;
  if (source.head.cut) return;  // no true copy can be made of a file read in part
  // Under the saver's lock, so a save that just made the file is not undone.
  const auto lock = FileLock::Acquire(files.folder + kLockFileName, settings_format::kLockPatience);
  if (!IsMissing(path)) return;
  const auto copied = ReplaceFile(path, source.head.text);
  if (!copied) {
    settings_format::Warn(copied.error().message() + "; the values of " + source.path + " apply");
  }
}

std::optional<SettingsSource> ChooseSource(const SettingsFiles& files) {
  const std::string path = files.folder + kSettingsFileName;
  if (!files.folder.empty() && !IsMissing(path)) {
    auto head = ReadSettingsText(path, Links::Refuse);  // as the saver will not write through it
    if (head) return SettingsSource{path, std::move(head.value())};
    // The file belongs to someone: it is not replaced by a copy.
    settings_format::Warn(head.error().message() + "; starting from the template's values");
    return ReadTemplate(files);
  }
  std::optional<SettingsSource> source = ReadStartingPoint(files);
  if (source && !files.folder.empty()) CopyIfStillMissing(files, *source);
  return source;
}

void ApplyValue(const SettingKey& key, int16_t value, const LinePlace& place,
                SettingsTarget& target) {
  const Result<void> applied = (target.*key.set)(value);
  if (applied) return;
  const std::string reason =
      key.refusal.empty() ? applied.error().message() : std::string(key.refusal);
  WarnAt(place, std::string(key.name) + " value " + std::to_string(value) + " refused (" + reason +
                    "); line skipped");
}

void ApplyKeyLine(std::string_view line, const LinePlace& place, SettingsTarget& target) {
  const settings_format::KeyLine parts = settings_format::SplitKeyLine(line);
  const SettingKey* key = settings_format::FindSettingKey(parts.key);
  if (key == nullptr) return;
  // Without the comma the value text would be the whole line, which starts
  // with the key's letters and so reads as 0.
  if (!parts.has_comma) {
    WarnAt(place, std::string(key->name) + " line \"" + settings_format::Quote(TrimBlanks(line)) +
                      "\" has no \",\" before its value; line skipped");
    return;
  }
  auto value = RoundToInt16(ReadNumber(parts.value));
  if (!value) {
    WarnAt(place, std::string(key->name) + " value " + settings_format::Quote(parts.value) +
                      " overflows (must be -32768 to 32767); line skipped");
    return;
  }
  ApplyValue(*key, *value, place, target);
}

}  // namespace

void LoadSettings(const SettingsFiles& files, SettingsTarget& target) {
  const std::optional<SettingsSource> source = ChooseSource(files);
  if (!source) return;
  LineReader reader(source->head.text);
  while (const auto line = reader.ReadLine()) {
    // Only the exact terminator counts here; "[EOF] " is an unknown key.
    if (*line == settings_format::kTerminator) return;
    if (settings_format::IsCommentLine(*line)) continue;
    ApplyKeyLine(*line, {source->path, reader.line_number()}, target);
  }
  const std::string missing = settings_format::MissingTerminator(
      source->path, source->head.text, reader.line_number() + 1, source->head.cut);
  settings_format::Warn(
      missing + (source->head.cut ? "; the rest is not read, the values read before it are kept"
                                  : "; the values read are kept"));
}

}  // namespace zavo
