#include "app/module_loader.h"

#include <cstdlib>
#include <exception>

#include "app/module_trust.h"

namespace zavo {
namespace {

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

Result<ui::WindowModule*> LoadWindowModule(const std::string& program_folder) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  const Result<void*> entry =
      LoadModuleEntry(program_folder, ui::kWindowModuleFile, ui::kWindowModuleEntry);
  if (!entry) return CannotLoad("window module", entry.error());
  const char* build = nullptr;
  ui::WindowModule* module = reinterpret_cast<ui::WindowModuleEntry>(entry.value())(&build);
  ZAVO_TRY(CheckSameBuild("the window module", build));
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
      const char* build = nullptr;
      const TiffModuleCodec* codec = reinterpret_cast<TiffModuleEntry>(entry.value())(&build);
      ZAVO_TRY(CheckSameBuild("the TIFF codec module", build));
      loaded_tiff = codec;
    }
    return &kThroughModule;
  };
}

}  // namespace zavo
