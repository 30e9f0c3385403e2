#include "imaging/exif_orientation.h"

#include <algorithm>
#include <array>
#include <utility>

#include "imaging/orientation.h"

namespace zavo {
namespace {

constexpr std::array<uint8_t, 6> kExifSignature = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr size_t kEntryBytes = 12;

// The TIFF structure inside EXIF, in either byte order, bounds-checked.
class TiffBytes {
 public:
  explicit TiffBytes(std::span<const uint8_t> data) : data_(data) {}

  bool ReadByteOrder() {
    if (data_.size() < 8) return false;
    if (data_[0] == 'I' && data_[1] == 'I') {
      big_endian_ = false;
    } else if (data_[0] == 'M' && data_[1] == 'M') {
      big_endian_ = true;
    } else {
      return false;
    }
    return U16(2) == 42;
  }
  bool Has(uint64_t offset, uint64_t bytes) const { return offset + bytes <= data_.size(); }
  // Callers check Has() first.
  uint16_t U16(size_t at) const {
    return big_endian_ ? static_cast<uint16_t>(data_[at] << 8 | data_[at + 1])
                       : static_cast<uint16_t>(data_[at + 1] << 8 | data_[at]);
  }
  uint32_t U32(size_t at) const {
    const uint32_t high = U16(at), low = U16(at + 2);
    return big_endian_ ? high << 16 | low : low << 16 | high;
  }

 private:
  std::span<const uint8_t> data_;
  bool big_endian_ = false;
};

ExifOrientation Broken(std::string why) { return {kUpright, std::move(why)}; }

// The entry's value, which for one SHORT or LONG lies in the entry itself.
uint32_t EntryValue(const TiffBytes& tiff, size_t entry) {
  const uint16_t type = tiff.U16(entry + 2);
  const uint32_t count = tiff.U32(entry + 4);
  if (count < 1) return 0;
  if (type == kTypeShort) return tiff.U16(entry + 8);
  if (type == kTypeLong) return tiff.U32(entry + 8);
  return 0;  // any other type is no orientation
}

}  // namespace

bool IsExif(std::span<const uint8_t> app1) {
  return app1.size() >= kExifSignature.size() &&
         std::equal(kExifSignature.begin(), kExifSignature.end(), app1.begin());
}

ExifOrientation ReadExifOrientation(std::span<const uint8_t> app1) {
  if (!IsExif(app1)) return {};
  TiffBytes tiff(app1.subspan(kExifSignature.size()));
  if (!tiff.ReadByteOrder()) return Broken("no TIFF header after the EXIF signature");
  const uint32_t ifd = tiff.U32(4);
  if (!tiff.Has(ifd, 2)) return Broken("its first directory lies outside it");
  const uint16_t entries = tiff.U16(ifd);
  if (!tiff.Has(uint64_t{ifd} + 2, uint64_t{entries} * kEntryBytes)) {
    return Broken("its first directory is cut short");
  }
  for (uint16_t i = 0; i < entries; ++i) {
    const size_t entry = ifd + 2 + size_t{i} * kEntryBytes;
    if (tiff.U16(entry) == kOrientationTag) return {SaneOrientation(EntryValue(tiff, entry)), {}};
  }
  return {};
}

}  // namespace zavo
