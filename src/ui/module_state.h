// What the whole run shares: the paths start-up takes from the command line,
// the executable's folder, where the settings are and the TIFF compression flag.
#pragma once

#include <cstdint>
#include <string>

#include "settings/settings.h"

namespace zavo {

struct ModuleState {
  std::string AppFolder;        // the executable's folder, ending in "/"
  std::string TargetFile;       // "/ON=": the JPEG or TIFF file
  std::string TransferFile;     // "/FN=": the BMP file shared with the host
  int16_t TiffCompression = 0;  // 0 no compression, any other value PackBits
  SettingsFiles Settings;       // where the template and ZAVO.CNF are
  // Set once a write-mode window waits for the user: only closing such a
  // window stores the settings. A close that slips in while a read-mode
  // import lets events through must not rewrite them.
  bool SavesOnUnload = false;
};

}  // namespace zavo
