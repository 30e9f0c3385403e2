// JPEG files the program never writes, made with libjpeg itself, and
// decompression bombs made by byte surgery on a tiny flat picture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct jpeg_compress_struct;

namespace zavo::testing {

// Interleaved 8-bit pixels of 1 (gray), 2, 3 (RGB) or 4 (CMYK) components
// compressed at quality 100, after `setup` has changed the defaults.
std::vector<uint8_t> CompressJpeg(const std::vector<uint8_t>& pixels, int width, int height,
                                  int components,
                                  const std::function<void(jpeg_compress_struct*)>& setup = {});

// Rewrites the frame header's height and width.
void ClaimSize(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height);

// Comment markers right after SOI until the file is `size` bytes.
void PadTo(std::vector<uint8_t>& jpeg, size_t size);

// Repeats the last scan, from its SOS marker to the EOI marker.
void RepeatLastScan(std::vector<uint8_t>& jpeg, int times);

struct HostileJpeg {
  std::string name;  // what makes it hostile
  std::vector<uint8_t> bytes;
  bool refused;  // false: the most work the limits let a file of its size cost
};

// Every one of them is 100 KB or less.
std::vector<HostileJpeg> DecompressionBombs();

// A flat progressive 4:4:4 picture claiming `claimed` x `claimed` pixels,
// padded to `size` bytes: the bytes buy it the decoder's trust.
std::vector<uint8_t> PaddedProgressiveJpeg(uint16_t claimed, size_t size);

}  // namespace zavo::testing
