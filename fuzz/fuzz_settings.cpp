// The bytes as a settings file for the loader and as a template for the saver;
// a save must read back to the values it saved.
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>

#include "settings/settings.h"
#include "support/fake_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    std::string pattern = "/tmp/zavo-fuzz-settings-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern + "/";
  }();
  for (const char* name : {"ZAVO.CNF", "DEF_ZAVO.CNF"}) {
    std::ofstream file(folder + name, std::ios::binary);
    if (!file.write(reinterpret_cast<const char*>(data), std::streamsize(size))) std::abort();
  }
  const zavo::SettingsFiles files = zavo::SettingsFiles::InFolder(folder);
  zavo::testing::FakeTarget target;
  zavo::LoadSettings(files, target);
  (void)zavo::SaveSettings(files, target);
  // Loaded over the saved values, as a file past the size limit is read in part.
  zavo::testing::FakeTarget back(target.quality, target.grayscale, target.tiff);
  zavo::LoadSettings(files, back);
  if (std::tie(back.quality, back.grayscale, back.tiff) !=
      std::tie(target.quality, target.grayscale, target.tiff)) {
    std::abort();
  }
  return 0;
}
