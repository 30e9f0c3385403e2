// The entry of zavo_tiff.so, and the same codec for programs that link it in.
#include "imaging/tiff_module.h"

#include "imaging/tiff/tiff_codec.h"
#include "platform/build_id.h"

namespace zavo {

namespace {

constexpr TiffCodec kCodec{LoadTiffFile, SaveTiffFile};

// An empty message takes no memory, so even an allocation failure gets here.
Error Thrown(std::exception_ptr* thrown) noexcept {
  *thrown = std::current_exception();
  return Error(ErrorKind::Internal, "");
}

Result<Image> LoadAtEntry(const std::string& path, Warnings* warnings, Progress* progress,
                          std::exception_ptr* thrown) noexcept {
  try {
    return LoadTiffFile(path, warnings, progress);
  } catch (...) {
    return Thrown(thrown);
  }
}

Result<void> SaveAtEntry(const std::string& path, const Image& image, bool packbits,
                         Progress* progress, std::exception_ptr* thrown) noexcept {
  try {
    return SaveTiffFile(path, image, packbits, progress);
  } catch (...) {
    return Thrown(thrown);
  }
}

constexpr TiffModuleCodec kModuleCodec{LoadAtEntry, SaveAtEntry};

}  // namespace

Result<const TiffCodec*> LinkedTiffCodec() { return &kCodec; }

}  // namespace zavo

extern "C" __attribute__((visibility("default"))) const zavo::TiffModuleCodec* zavo_tiff_codec(
    const char** build) noexcept {
  *build = zavo::kBuildId;
  return &zavo::kModuleCodec;
}
