// Turns rows of 3-byte pixels between RGB and BGR order: the one conversion on
// the way between TIFF or PPM-like samples and the BMP layout of a picture.
#pragma once

#include <cstdint>

namespace zavo {

// Writes `width` pixels of `in` to `out` with the first and third byte of each
// pixel exchanged. `in` and `out` may be the same row, but must not otherwise
// overlap.
void SwapFirstAndThird(const uint8_t* in, uint8_t* out, uint32_t width);

}  // namespace zavo
