// The settings file beside the executable: "ZAVO.CNF", rebuilt at every save
// from the installation's template "DEF_ZAVO.CNF" through the scratch file
// "ZAVO.TMP". Lines end in CR LF; keys are four letters; "[EOF]" ends the file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"

namespace zavo {

inline constexpr const char* kSettingsFileName = "ZAVO.CNF";
inline constexpr const char* kTemplateFileName = "DEF_ZAVO.CNF";
inline constexpr const char* kScratchFileName = "ZAVO.TMP";

// Where the three settings live: the quality scroll bar, the grayscale check
// box and the TIFF compression flag. The setters throw Error (InvalidValue)
// for a value the control refuses, keeping the old value.
class SettingsTarget {
 public:
  virtual ~SettingsTarget() = default;
  virtual int16_t JpegQuality() const = 0;  // JPEG_Q_SC, 0..100
  virtual void SetJpegQuality(int16_t value) = 0;
  virtual int16_t JpegGrayscale() const = 0;  // JPEG_BW, 0, 1 or 2
  virtual void SetJpegGrayscale(int16_t value) = 0;
  virtual int16_t TiffCompressionFlag() const = 0;  // TiffCompression, any value
  virtual void SetTiffCompressionFlag(int16_t value) = 0;
};

// Applies the settings file in `app_folder` (ending in "/") to `target`,
// first copying the template over a missing settings file. A damaged file
// never stops the add-in: each line that cannot be applied is skipped with
// one warning on stderr naming the file, the line and the reason.
void LoadSettings(const std::string& app_folder, SettingsTarget& target);

// Rebuilds the settings file from the template with the target's values and
// puts it in place in one step. On failure the old settings file is intact.
Result<void> SaveSettings(const std::string& app_folder, const SettingsTarget& target);

}  // namespace zavo
