// The bytes as a settings file for the loader and as a template for the saver.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/error.h"
#include "settings/settings.h"

namespace {

// Refuses what the window's controls refuse.
class Target : public zavo::SettingsTarget {
 public:
  int16_t JpegQuality() const override { return quality_; }
  zavo::Result<void> SetJpegQuality(int16_t value) override {
    if (value < 0 || value > 100) return zavo::Error(zavo::ErrorKind::InvalidValue, "quality");
    quality_ = value;
    return {};
  }
  int16_t JpegGrayscale() const override { return grayscale_; }
  zavo::Result<void> SetJpegGrayscale(int16_t value) override {
    if (value < 0 || value > 2) return zavo::Error(zavo::ErrorKind::InvalidValue, "grayscale");
    grayscale_ = value;
    return {};
  }
  int16_t TiffCompressionFlag() const override { return tiff_; }
  zavo::Result<void> SetTiffCompressionFlag(int16_t value) override {
    tiff_ = value;
    return {};
  }

 private:
  int16_t quality_ = 50;
  int16_t grayscale_ = 0;
  int16_t tiff_ = 0;
};

const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern = "/tmp/zavo-fuzz-settings-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern + "/";
  }();
  return folder;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = Folder();
  WriteFile(folder + "ZAVO.CNF", data, size);
  WriteFile(folder + "DEF_ZAVO.CNF", data, size);
  const zavo::SettingsFiles files = zavo::SettingsFiles::InFolder(folder);
  Target target;
  zavo::LoadSettings(files, target);
  (void)zavo::SaveSettings(files, target);
  // Starting from the saved values, so a key the template lacks (and the
  // saved file therefore lacks too) keeps its value.
  Target reloaded = target;
  zavo::LoadSettings(files, reloaded);
  if (reloaded.JpegQuality() != target.JpegQuality() ||
      reloaded.JpegGrayscale() != target.JpegGrayscale() ||
      reloaded.TiffCompressionFlag() != target.TiffCompressionFlag()) {
    std::abort();  // a save must read back to the values it saved
  }
  return 0;
}
