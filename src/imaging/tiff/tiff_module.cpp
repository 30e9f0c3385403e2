// The entry of zavo_tiff.so, and the same codec for programs that link it in.
#include "imaging/tiff_module.h"

#include "imaging/tiff/tiff_codec.h"

namespace zavo {

namespace {
constexpr TiffCodec kCodec{LoadTiffFile, SaveTiffFile};
}  // namespace

Result<const TiffCodec*> LinkedTiffCodec() { return &kCodec; }

}  // namespace zavo

extern "C" __attribute__((visibility("default"))) const zavo::TiffCodec* zavo_tiff_codec() {
  return &zavo::kCodec;
}
