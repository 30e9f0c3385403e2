// Finds the program's modules beside it: the window module when there is a
// display to use, the TIFF codec when a TIFF file is read or written. A
// module is loaded only from the program's own folder, which the launcher
// found (main.cpp) and handed to the core, and only once CheckModuleFile
// trusts it.
#pragma once

#include <string>

#include "imaging/tiff_module.h"
#include "ui/window_module.h"

namespace zavo {

// The window module's entry, or null when DISPLAY names no display (nothing
// is loaded then); an error "cannot load the window module (why)" when it
// cannot be loaded or is not trusted, and "the window module belongs to
// another build (...)" when it is not of this build.
Result<ui::WindowModule*> LoadWindowModule(const std::string& program_folder);

// Loads the TIFF module at the first call; a module that cannot be loaded is
// an error "cannot load the TIFF codec module (why)", one of another build
// "the TIFF codec module belongs to another build (...)".
TiffCodecSource TiffModuleSource(const std::string& program_folder);

}  // namespace zavo
