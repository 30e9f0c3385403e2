#include "app/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "app/module_trust.h"

namespace zavo {
namespace {

std::string FolderOf(const std::string& file) { return file.substr(0, file.rfind('/') + 1); }

// The kernel's own record of the program's file, every link resolved.
Result<std::string> FolderFromKernel() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0 || buffer[0] != '/') {
    return Error(ErrorKind::Io,
                 std::string("/proc/self/exe cannot be read (") + std::strerror(errno) + ")");
  }
  return FolderOf(std::string(buffer, static_cast<size_t>(length)));
}

// The path by which the dynamic loader opened this code: libzavo_core.so,
// found through the program's RUNPATH ($ORIGIN) or an absolute library path.
// A relative one would depend on the current folder, so it does not count.
Result<std::string> FolderFromLoader() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ProgramFolder), &info) == 0 || info.dli_fname == nullptr) {
    return Error(ErrorKind::Io, "the dynamic loader does not say where the program's code is");
  }
  const std::string loaded = info.dli_fname;
  if (!loaded.starts_with('/')) {
    return Error(ErrorKind::Io,
                 "the dynamic loader found the program's code by the relative path " +
                     (loaded.empty() ? std::string("\"\"") : loaded));
  }
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(loaded.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) {
    return Error(ErrorKind::Io, "cannot resolve " + loaded + " (" + std::strerror(errno) + ")");
  }
  return FolderOf(resolved.get());
}

// The module's exported function, once the module is trusted and loaded.
Result<void*> LoadModuleEntry(const std::string& folder, const char* file, const char* entry_name) {
  const std::string path = folder + file;
  ZAVO_TRY(CheckModuleFile(path));
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = ::dlerror();
    return Error(ErrorKind::Io, reason != nullptr ? reason : "cannot load " + path);
  }
  void* entry = ::dlsym(module, entry_name);
  if (entry == nullptr) {
    return Error(ErrorKind::Io, path + " has no function " + entry_name);
  }
  return entry;
}

Error CannotLoad(const char* module, const Error& why) {
  return Error(why.kind(), std::string("cannot load the ") + module + " (" + why.message() + ")");
}

// The loaded codec module, and the codec that calls it: an exception the
// module caught at its entry is thrown again here, on the program's side.
const TiffModuleCodec* loaded_tiff = nullptr;

Result<Image> LoadThroughModule(const std::string& path, Warnings* warnings, Progress* progress) {
  std::exception_ptr thrown;
  Result<Image> image = loaded_tiff->load(path, warnings, progress, &thrown);
  if (thrown) std::rethrow_exception(thrown);
  return image;
}

Result<void> SaveThroughModule(const std::string& path, const Image& image, bool packbits,
                               Progress* progress) {
  std::exception_ptr thrown;
  Result<void> saved = loaded_tiff->save(path, image, packbits, progress, &thrown);
  if (thrown) std::rethrow_exception(thrown);
  return saved;
}

constexpr TiffCodec kThroughModule{LoadThroughModule, SaveThroughModule};

}  // namespace

Result<std::string> ProgramFolder() {
  Result<std::string> kernel = FolderFromKernel();
  if (kernel) return kernel;
  Result<std::string> loader = FolderFromLoader();
  if (loader) return loader;
  return Error(ErrorKind::Io, "the program's folder is unknown: " + kernel.error().message() +
                                  " and " + loader.error().message());
}

Result<ui::WindowModule*> LoadWindowModule(const std::string& program_folder) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  const Result<void*> entry =
      LoadModuleEntry(program_folder, ui::kWindowModuleFile, ui::kWindowModuleEntry);
  if (!entry) return CannotLoad("window module", entry.error());
  ui::WindowModule* module = reinterpret_cast<ui::WindowModuleEntry>(entry.value())();
  if (module == nullptr) {
    return Error(ErrorKind::Internal, "cannot load the window module (its entry failed)");
  }
  return module;
}

TiffCodecSource TiffModuleSource(const std::string& program_folder) {
  return [program_folder]() -> Result<const TiffCodec*> {
    if (loaded_tiff == nullptr) {
      const Result<void*> entry =
          LoadModuleEntry(program_folder, kTiffModuleFile, kTiffModuleEntry);
      if (!entry) return CannotLoad("TIFF codec module", entry.error());
      loaded_tiff = reinterpret_cast<TiffModuleEntry>(entry.value())();
    }
    return &kThroughModule;
  };
}

}  // namespace zavo
