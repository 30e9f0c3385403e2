// Decompression bombs, made at test time from a tiny flat picture by byte
// surgery: each is a small file whose header claims a picture far beyond what
// its bytes can hold, or which makes the decoder pass over the picture again
// and again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zavo::testing {

struct HostileJpeg {
  std::string name;  // what makes it hostile
  std::vector<uint8_t> bytes;
  bool refused;  // false: the most work the limits let a file of its size cost
};

// Every one of them is 100 KB or less.
std::vector<HostileJpeg> DecompressionBombs();

// A flat gray picture, `width` x `height`, progressive Huffman-coded 4:4:4
// with its header claiming `claimed` x `claimed` pixels, grown with comment
// markers to `size` bytes: the bytes buy it the decoder's trust.
std::vector<uint8_t> PaddedProgressiveJpeg(uint16_t claimed, size_t size);

}  // namespace zavo::testing
