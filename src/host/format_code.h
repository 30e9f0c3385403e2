// FormatCode values: the picture format the host's command line names.
#pragma once

#include <cstdint>

namespace zavo {

inline constexpr int16_t kFormatGif = 1;
inline constexpr int16_t kFormatJpeg = 2;
inline constexpr int16_t kFormatTiff = 3;

}  // namespace zavo
