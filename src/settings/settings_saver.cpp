// SaveSettings: rebuilds "ZAVO.CNF" from the template "DEF_ZAVO.CNF" with the
// current values, so comments and layout always come from the installation.
// The new file is written under a fresh name of its own and replaces the old
// one in one step: there is never a moment without a settings file, a failed
// save leaves the old one intact, and nothing another user planted in the
// folder is ever written through. Saves take turns under a lock, so of two
// windows closed together the later one wins, whole.
#include <array>
#include <string>
#include <string_view>

#include "platform/file_lock.h"
#include "platform/runtime_text.h"
#include "platform/text_file.h"
#include "settings/settings.h"
#include "settings/settings_format.h"

namespace zavo {
namespace {

using settings_format::kSettingKeys;
using settings_format::SettingKey;

struct RebuiltFile {
  std::string text;
  bool terminated = false;
  size_t template_lines = 0;                        // read up to "[EOF]" or the end
  std::array<bool, kSettingKeys.size()> written{};  // by index in kSettingKeys
};

// Key, " , ", value, " ", inline comment: the blank before the comment is
// written even when there is none, so such a line ends with a blank.
std::string RebuildKeyLine(std::string_view line, const SettingsTarget& target, RebuiltFile& file) {
  const settings_format::KeyLine parts = settings_format::SplitKeyLine(line);
  const SettingKey* key = settings_format::FindSettingKey(parts.key);
  std::string value(parts.value);
  if (key != nullptr) {
    value = SignPositionText((target.*key->get)());
    file.written[static_cast<size_t>(key - kSettingKeys.data())] = true;
  }
  return std::string(parts.key) + " , " + value + " " + std::string(parts.comment);
}

// Unlike the loader, the saver strips blanks before looking for "[EOF]".
void RebuildFromTemplate(std::string_view template_text, const SettingsTarget& target,
                         RebuiltFile& file) {
  LineReader reader(template_text);
  while (const auto read = reader.ReadLine()) {
    file.template_lines = reader.line_number();
    const std::string_view line = TrimBlanks(*read);
    if (line == settings_format::kTerminator) {
      file.terminated = true;
      return;
    }
    const bool copied_as_is = line.empty() || settings_format::IsCommentLine(line);
    AppendLine(file.text, copied_as_is ? std::string(line) : RebuildKeyLine(line, target, file));
  }
}

// A template that lacks a key must not cost the user the value chosen in
// this run: such keys go last, in the order of kSettingKeys, before "[EOF]".
void AddMissingKeys(const SettingsTarget& target, RebuiltFile& file) {
  for (size_t i = 0; i < kSettingKeys.size(); ++i) {
    if (!file.written[i]) AppendLine(file.text, RebuildKeyLine(kSettingKeys[i].name, target, file));
  }
}

std::string BuildSettingsText(const std::string& template_path, const SettingsTarget& target) {
  RebuiltFile file;
  auto template_head = ReadTextHead(template_path, kSettingsSizeLimit);
  if (template_head) {
    // The mark stays out of the new file: it is not a line of the template.
    const std::string_view text =
        settings_format::SkipByteOrderMark(template_head->text, template_path);
    RebuildFromTemplate(text, target, file);
    if (!file.terminated) {
      settings_format::Warn(settings_format::MissingTerminator(
                                template_path, text, file.template_lines + 1, template_head->cut) +
                            "; missing settings added at the end");
    }
  } else {
    settings_format::Warn(template_head.error().message() + "; settings written without it");
  }
  AddMissingKeys(target, file);
  AppendLine(file.text, settings_format::kTerminator);
  return file.text;
}

}  // namespace

Result<void> SaveSettings(const SettingsFiles& files, const SettingsTarget& target) {
  if (files.folder.empty()) return Error(ErrorKind::Io, "settings not saved: " + files.unavailable);
  // Without the lock the save still replaces the file whole; only the order
  // of two saves at the same moment is then left to chance.
  const auto lock = FileLock::Acquire(files.folder + kLockFileName, settings_format::kLockPatience);
  const auto replaced =
      ReplaceFile(files.folder + kSettingsFileName, BuildSettingsText(files.template_path, target));
  if (!replaced) {
    return Error(replaced.error().kind(), "settings not saved: " + replaced.error().message());
  }
  if (!lock) settings_format::Warn(lock.error().message() + "; settings saved without the lock");
  return {};
}

}  // namespace zavo
