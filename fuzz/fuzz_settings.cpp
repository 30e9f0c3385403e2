// The bytes as a settings file for the loader and as a template for the saver.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/error.h"
#include "settings/settings.h"

namespace {

// Refuses what the window's controls refuse.
class Target : public zavo::SettingsTarget {
 public:
  int16_t JpegQuality() const override { return values_[0]; }
  zavo::Result<void> SetJpegQuality(int16_t value) override { return Set(0, value, 100); }
  int16_t JpegGrayscale() const override { return values_[1]; }
  zavo::Result<void> SetJpegGrayscale(int16_t value) override { return Set(1, value, 2); }
  int16_t TiffCompressionFlag() const override { return values_[2]; }
  zavo::Result<void> SetTiffCompressionFlag(int16_t value) override {
    return Set(2, value, INT16_MAX);
  }
  bool operator==(const Target& other) const { return values_ == other.values_; }

 private:
  zavo::Result<void> Set(int which, int16_t value, int16_t most) {
    if (which < 2 && (value < 0 || value > most)) {
      return zavo::Error(zavo::ErrorKind::InvalidValue, "out of range");
    }
    values_[which] = value;
    return {};
  }
  std::array<int16_t, 3> values_ = {50, 0, 0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    std::string pattern = "/tmp/zavo-fuzz-settings-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern + "/";
  }();
  for (const char* name : {"ZAVO.CNF", "DEF_ZAVO.CNF"}) {
    FILE* file = std::fopen((folder + name).c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  const zavo::SettingsFiles files = zavo::SettingsFiles::InFolder(folder);
  Target target;
  zavo::LoadSettings(files, target);
  (void)zavo::SaveSettings(files, target);
  // Starting from the saved values, so a key the template lacks (and the
  // saved file therefore lacks too) keeps its value.
  Target reloaded = target;
  zavo::LoadSettings(files, reloaded);
  if (!(reloaded == target)) std::abort();  // a save must read back to the values it saved
  return 0;
}
