#include "imaging/jpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zavo::Warnings warnings;
  (void)zavo::DecodeJpeg({data, size}, "fuzz.jpg", &warnings, nullptr);
  return 0;
}
