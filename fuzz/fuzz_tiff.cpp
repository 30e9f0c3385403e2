#include "imaging/tiff/tiff_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zavo::Warnings warnings;
  (void)zavo::DecodeTiff({data, size}, "fuzz.tif", &warnings, nullptr);
  return 0;
}
