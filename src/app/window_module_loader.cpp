#include "app/window_module_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace zavo {

ui::WindowModule* LoadWindowModule(const std::string& program_folder) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  const std::string path = program_folder + ui::kWindowModuleFile;
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = module != nullptr ? ::dlsym(module, ui::kWindowModuleEntry) : nullptr;
  if (entry == nullptr) {
    std::fprintf(stderr,
                 "zavo: warning: cannot load the window module (%s); going on without a display\n",
                 ::dlerror());
    return nullptr;
  }
  return reinterpret_cast<ui::WindowModuleEntry>(entry)();
}

}  // namespace zavo
