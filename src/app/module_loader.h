// Finds the program's modules beside it: the window module when there is a
// display to use, the TIFF codec when a TIFF file is read or written.
#pragma once

#include <string>

#include "imaging/tiff_module.h"
#include "ui/window_module.h"

namespace zavo {

// The module's entry, or null when DISPLAY names no display (nothing is
// loaded then) or the module cannot be loaded (said as a warning).
ui::WindowModule* LoadWindowModule(const std::string& program_folder);

// Loads the TIFF module at the first call; a module that cannot be loaded is
// an error that names it and says why.
TiffCodecSource TiffModuleSource(const std::string& program_folder);

}  // namespace zavo
