#include "app/module_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "platform/diagnostics.h"

namespace zavo {
namespace {

// The module's exported function, or the loader's reason why there is none.
Result<void*> LoadModuleEntry(const std::string& path, const char* entry_name) {
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = module != nullptr ? ::dlsym(module, entry_name) : nullptr;
  if (entry == nullptr) {
    const char* reason = ::dlerror();
    return Error(ErrorKind::Io, reason != nullptr ? reason : path);
  }
  return entry;
}

}  // namespace

ui::WindowModule* LoadWindowModule(const std::string& program_folder) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  const Result<void*> entry =
      LoadModuleEntry(program_folder + ui::kWindowModuleFile, ui::kWindowModuleEntry);
  if (!entry) {
    CurrentDiagnostics().Warning("cannot load the window module (" + entry.error().message() +
                                 "); going on without a display");
    return nullptr;
  }
  return reinterpret_cast<ui::WindowModuleEntry>(entry.value())();
}

TiffCodecSource TiffModuleSource(const std::string& program_folder) {
  return [path = program_folder + kTiffModuleFile]() -> Result<const TiffCodec*> {
    const Result<void*> entry = LoadModuleEntry(path, kTiffModuleEntry);
    if (!entry) {
      return Error(ErrorKind::Io,
                   "TIFF: cannot load the codec module (" + entry.error().message() + ")");
    }
    return reinterpret_cast<TiffModuleEntry>(entry.value())();
  };
}

}  // namespace zavo
