// The settings file "ZAVO.CNF", rebuilt at every save from the installation's
// template "DEF_ZAVO.CNF" beside the executable. Lines end in CR LF; keys are
// four letters; "[EOF]" ends the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/error.h"

namespace zavo {

inline constexpr const char* kSettingsFileName = "ZAVO.CNF";
inline constexpr const char* kTemplateFileName = "DEF_ZAVO.CNF";
inline constexpr const char* kLockFileName = "ZAVO.LCK";

// A settings file is a few hundred bytes; reading stops here, so that a huge
// file (or one that never ends) costs no time or memory at start-up.
inline constexpr size_t kSettingsSizeLimit = 64 * 1024;

// Where the settings files of this run are.
struct SettingsFiles {
  std::string template_path;  // "DEF_ZAVO.CNF" beside the executable
  // Holds "ZAVO.CNF" and its lock "ZAVO.LCK", ending in "/"; empty when no
  // folder could be had, and `unavailable` then says why.
  std::string folder;
  std::string unavailable;
  // "ZAVO.CNF" beside the executable when the settings cannot live there (a
  // read-only installation); empty otherwise. A settings file missing from
  // `folder` starts as a copy of it, where it exists, and not of the template.
  std::string program_settings_path;

  // The template and the settings both in `folder` (ending in "/").
  static SettingsFiles InFolder(const std::string& folder);
};

// The executable's folder `app_folder` (ending in "/") when this user may
// write there, as in a user prefix or the build folder, and it lies outside
// the system's trees (/usr, /bin, /sbin, /lib...). Otherwise the
// user's own "$XDG_CONFIG_HOME/zavo/" (by default "~/.config/zavo/"),
// created here when missing, seeded from a "ZAVO.CNF" in `app_folder`.
// Either must be owned by the user or root and writable by no one else;
// a folder that is not gives no settings folder.
SettingsFiles LocateSettings(const std::string& app_folder);

// Where the three settings live: the quality scroll bar, the grayscale check
// box and the TIFF compression flag. The setters refuse a value the control
// refuses with Error (InvalidValue), keeping the old value.
class SettingsTarget {
 public:
  virtual ~SettingsTarget() = default;
  virtual int16_t JpegQuality() const = 0;  // JPEG_Q_SC, 0..100
  virtual Result<void> SetJpegQuality(int16_t value) = 0;
  virtual int16_t JpegGrayscale() const = 0;  // JPEG_BW, 0, 1 or 2
  virtual Result<void> SetJpegGrayscale(int16_t value) = 0;
  virtual int16_t TiffCompressionFlag() const = 0;  // TiffCompression, any value
  virtual Result<void> SetTiffCompressionFlag(int16_t value) = 0;
};

// Applies the settings file to `target`. A missing one is first made as a
// copy of its starting point (files.program_settings_path or the template);
// one that cannot be read is left alone and the template's values apply
// instead. A damaged file never stops the add-in:
// each line that cannot be applied is skipped with one warning on stderr
// naming the file, the line and the reason.
void LoadSettings(const SettingsFiles& files, SettingsTarget& target);

// Rebuilds the settings file from the template with the target's values and
// puts it in place in one step, one process at a time, so the last save wins
// whole. On failure the old settings file is intact.
Result<void> SaveSettings(const SettingsFiles& files, const SettingsTarget& target);

}  // namespace zavo
