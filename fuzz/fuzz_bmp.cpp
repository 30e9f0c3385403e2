#include "imaging/bmp_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zavo::Warnings warnings;
  (void)zavo::DecodeBmp({data, size}, "fuzz.bmp", &warnings);
  return 0;
}
