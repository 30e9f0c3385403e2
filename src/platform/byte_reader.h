// Reads little-endian fields from untrusted bytes. A read past the end yields
// 0 and leaves the reader failed for good, so a parser can read a whole header
// field by field and check ok() once, instead of testing every read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zavo {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data, size_t offset = 0)
      : data_(data), position_(offset), ok_(offset <= data.size()) {}

  bool ok() const { return ok_; }
  size_t position() const { return position_; }

  uint8_t U8() { return static_cast<uint8_t>(Read(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Read(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Read(4)); }
  int32_t I32() { return static_cast<int32_t>(U32()); }

  // The next `size` bytes, or an empty span (and failure) when fewer are left.
  std::span<const uint8_t> Bytes(size_t size) {
    if (!Has(size)) return {};
    const auto bytes = data_.subspan(position_, size);
    position_ += size;
    return bytes;
  }

  void Skip(size_t size) { Bytes(size); }

 private:
  bool Has(size_t size) {
    if (ok_ && size <= data_.size() - position_) return true;
    ok_ = false;
    return false;
  }

  uint32_t Read(size_t size) {
    if (!Has(size)) return 0;
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) value |= uint32_t{data_[position_ + i]} << (8 * i);
    position_ += size;
    return value;
  }

  std::span<const uint8_t> data_;
  size_t position_;
  bool ok_;
};

}  // namespace zavo
