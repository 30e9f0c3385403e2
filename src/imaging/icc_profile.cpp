#include "imaging/icc_profile.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace zavo {
namespace {

constexpr std::array<uint8_t, 12> kIccSignature = {'I', 'C', 'C', '_', 'P', 'R',
                                                   'O', 'F', 'I', 'L', 'E', 0};
constexpr size_t kChunkHeader = kIccSignature.size() + 2;  // + sequence number, count

IccProfile Unusable(std::string why) { return {{}, std::move(why)}; }

}  // namespace

bool IsIccChunk(std::span<const uint8_t> app2) {
  return app2.size() >= kIccSignature.size() &&
         std::equal(kIccSignature.begin(), kIccSignature.end(), app2.begin());
}

IccProfile AssembleIccProfile(const std::vector<std::span<const uint8_t>>& app2_markers) {
  std::vector<std::span<const uint8_t>> chunks;  // by sequence number - 1
  unsigned count = 0;
  for (std::span<const uint8_t> marker : app2_markers) {
    if (!IsIccChunk(marker)) continue;
    if (marker.size() < kChunkHeader) return Unusable("a chunk is cut short");
    const unsigned sequence = marker[kIccSignature.size()];
    const unsigned declared = marker[kIccSignature.size() + 1];
    if (count == 0) {
      count = declared;
      chunks.resize(count);
    }
    if (declared != count) {
      return Unusable("its chunks disagree on their number (" + std::to_string(count) + " and " +
                      std::to_string(declared) + ")");
    }
    if (sequence < 1 || sequence > count) {
      return Unusable("chunk " + std::to_string(sequence) + " of " + std::to_string(count));
    }
    if (!chunks[sequence - 1].empty()) {
      return Unusable("chunk " + std::to_string(sequence) + " comes twice");
    }
    chunks[sequence - 1] = marker.subspan(kChunkHeader);
    // An empty piece would read as missing below; no real writer makes one.
    if (chunks[sequence - 1].empty())
      return Unusable("chunk " + std::to_string(sequence) + " is empty");
  }
  if (count == 0 && chunks.empty()) return {};
  IccProfile profile;
  for (size_t i = 0; i < chunks.size(); ++i) {
    if (chunks[i].empty()) return Unusable("chunk " + std::to_string(i + 1) + " is missing");
    profile.bytes.insert(profile.bytes.end(), chunks[i].begin(), chunks[i].end());
  }
  if (profile.bytes.empty()) return Unusable("its chunks declare a count of 0");
  return profile;
}

}  // namespace zavo
