#include "imaging/jpeg_metadata.h"

#include <algorithm>
#include <span>
#include <vector>

#include "imaging/exif_orientation.h"
#include "imaging/icc_profile.h"

namespace zavo {
namespace {

constexpr int kApp1 = JPEG_APP0 + 1;
constexpr int kApp2 = JPEG_APP0 + 2;
// A profile has at most 255 chunks; room for a few repeats, so that a file
// repeating one is told apart from one missing one.
constexpr unsigned kMaxIccChunks = 300;
// Enough of a marker to tell what it is ("Exif\0\0", "ICC_PROFILE\0").
constexpr unsigned kSignatureBytes = 12;

struct Payload {
  JOCTET* data;
  unsigned length;
};

// Plain data in libjpeg's pool: a longjmp out of a marker reader leaks nothing.
struct SavedMetadata {
  Payload exif;
  Payload icc[kMaxIccChunks];
  unsigned icc_count;
  bool too_many_icc_chunks;
};

SavedMetadata* SavedOf(j_decompress_ptr cinfo) {
  return static_cast<SavedMetadata*>(cinfo->client_data);
}

// One byte from the source, or -1 when it has nothing (a suspending source).
int NextByte(j_decompress_ptr cinfo) {
  jpeg_source_mgr* src = cinfo->src;
  if (src->bytes_in_buffer == 0 && !(*src->fill_input_buffer)(cinfo)) return -1;
  if (src->bytes_in_buffer == 0) return -1;
  --src->bytes_in_buffer;
  return *src->next_input_byte++;
}

// Reads `count` bytes into `out`; false when the source gave out.
bool ReadBytes(j_decompress_ptr cinfo, JOCTET* out, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    const int byte = NextByte(cinfo);
    if (byte < 0) return false;
    out[i] = static_cast<JOCTET>(byte);
  }
  return true;
}

// The marker's payload length from its two length bytes (which count themselves).
unsigned ReadLength(j_decompress_ptr cinfo) {
  const int high = NextByte(cinfo);
  const int low = NextByte(cinfo);
  if (high < 0 || low < 0) return 0;
  const unsigned length = static_cast<unsigned>(high << 8 | low);
  return length > 2 ? length - 2 : 0;
}

// Reads a marker's payload, keeping it (in the pool) when `keep` says so
// after seeing its first bytes; returns what was kept, or a null payload.
template <typename Keep>
Payload ReadMarker(j_decompress_ptr cinfo, Keep keep) {
  const unsigned length = ReadLength(cinfo);
  JOCTET head[kSignatureBytes];
  const unsigned head_length = std::min(length, kSignatureBytes);
  if (!ReadBytes(cinfo, head, head_length)) return {nullptr, 0};
  if (!keep(std::span<const uint8_t>(head, head_length))) {
    if (length > head_length) (*cinfo->src->skip_input_data)(cinfo, length - head_length);
    return {nullptr, 0};
  }
  auto* data = static_cast<JOCTET*>((*cinfo->mem->alloc_large)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, std::max(length, 1u)));
  std::copy(head, head + head_length, data);
  if (!ReadBytes(cinfo, data + head_length, length - head_length)) return {nullptr, 0};
  return {data, length};
}

boolean ReadApp1(j_decompress_ptr cinfo) {
  SavedMetadata* saved = SavedOf(cinfo);
  const Payload payload = ReadMarker(cinfo, [&](std::span<const uint8_t> head) {
    return saved->exif.data == nullptr && IsExif(head);
  });
  if (payload.data != nullptr) saved->exif = payload;
  return TRUE;
}

boolean ReadApp2(j_decompress_ptr cinfo) {
  SavedMetadata* saved = SavedOf(cinfo);
  const Payload payload = ReadMarker(cinfo, [&](std::span<const uint8_t> head) {
    if (!IsIccChunk(head)) return false;
    if (saved->icc_count < kMaxIccChunks) return true;
    saved->too_many_icc_chunks = true;
    return false;
  });
  if (payload.data != nullptr) saved->icc[saved->icc_count++] = payload;
  return TRUE;
}

uint16_t ReadOrientation(const SavedMetadata& saved, Warnings* warnings) {
  if (saved.exif.data == nullptr) return 1;
  const ExifOrientation exif =
      ReadExifOrientation(std::span<const uint8_t>(saved.exif.data, saved.exif.length));
  if (!exif.problem.empty()) {
    warnings->push_back("EXIF data is broken (" + exif.problem +
                        "); the picture is imported as stored");
  }
  return exif.value;
}

// libjpeg hands out gray and YCbCr/RGB as the picture holds them; CMYK and
// YCCK both as CMYK, inverted where Adobe's marker says so.
DevicePixels DevicePixelsOf(const jpeg_decompress_struct& cinfo) {
  if (cinfo.out_color_space == JCS_GRAYSCALE) return DevicePixels::Gray8;
  if (cinfo.out_color_space == JCS_CMYK) {
    return cinfo.saw_Adobe_marker ? DevicePixels::InvertedCmyk8 : DevicePixels::Cmyk8;
  }
  return DevicePixels::Bgr8;
}

std::unique_ptr<const ColourTransform> ReadColours(const jpeg_decompress_struct& cinfo,
                                                   const SavedMetadata& saved, Warnings* warnings) {
  std::vector<std::span<const uint8_t>> chunks;
  for (unsigned i = 0; i < saved.icc_count; ++i) {
    chunks.emplace_back(saved.icc[i].data, saved.icc[i].length);
  }
  const IccProfile profile = AssembleIccProfile(chunks);
  std::string problem;
  if (saved.too_many_icc_chunks) {
    problem = "the ICC profile comes in more than " + std::to_string(kMaxIccChunks) + " chunks";
  } else if (!profile.problem.empty()) {
    problem = "the ICC profile's chunks are broken (" + profile.problem + ")";
  }
  PreparedTransform prepared;
  if (problem.empty() && !profile.bytes.empty()) {
    prepared = PrepareToSrgb(profile.bytes, DevicePixelsOf(cinfo));
    problem = prepared.problem;
  }
  if (!problem.empty()) warnings->push_back(problem + "; colours are left as they are");
  return std::move(prepared.transform);
}

}  // namespace

void KeepMetadataMarkers(j_decompress_ptr cinfo) {
  auto* saved = static_cast<SavedMetadata*>((*cinfo->mem->alloc_large)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(SavedMetadata)));
  *saved = SavedMetadata{};
  cinfo->client_data = saved;
  jpeg_set_marker_processor(cinfo, kApp1, ReadApp1);
  jpeg_set_marker_processor(cinfo, kApp2, ReadApp2);
}

JpegMetadata ReadJpegMetadata(const jpeg_decompress_struct& cinfo, Warnings* warnings) {
  JpegMetadata metadata;
  const auto* saved = static_cast<const SavedMetadata*>(cinfo.client_data);
  if (saved == nullptr) return metadata;
  metadata.orientation = ReadOrientation(*saved, warnings);
  metadata.colours = ReadColours(cinfo, *saved, warnings);
  return metadata;
}

}  // namespace zavo
