#include "app/window_module_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "platform/diagnostics.h"

namespace zavo {

ui::WindowModule* LoadWindowModule(const std::string& program_folder) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  const std::string path = program_folder + ui::kWindowModuleFile;
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = module != nullptr ? ::dlsym(module, ui::kWindowModuleEntry) : nullptr;
  if (entry == nullptr) {
    const char* reason = ::dlerror();
    CurrentDiagnostics().Warning("cannot load the window module (" +
                                 std::string(reason != nullptr ? reason : "") +
                                 "); going on without a display");
    return nullptr;
  }
  return reinterpret_cast<ui::WindowModuleEntry>(entry)();
}

}  // namespace zavo
