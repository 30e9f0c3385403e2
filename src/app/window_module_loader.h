// Finds the window module beside the program when there is a display to use.
#pragma once

#include <string>

#include "ui/window_module.h"

namespace zavo {

// The module's entry, or null when DISPLAY names no display (nothing is
// loaded then) or the module cannot be loaded (said as a warning).
ui::WindowModule* LoadWindowModule(const std::string& program_folder);

}  // namespace zavo
