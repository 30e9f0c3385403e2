// ICC profiles embedded in JPEG files: APP2 markers that start with
// "ICC_PROFILE\0", then a sequence number (from 1) and the number of chunks,
// then a piece of the profile. Profiles over 64 KB take several markers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zavo {

struct IccProfile {
  std::vector<uint8_t> bytes;  // empty: no profile, or none that could be put together
  std::string problem;         // why the chunks could not be put together, or empty
};

// True when `app2` is one chunk of an ICC profile.
bool IsIccChunk(std::span<const uint8_t> app2);

// Puts the profile together from the payloads of the APP2 markers, in file
// order (markers that are not ICC chunks are skipped). Missing, repeated or
// inconsistent chunks give no profile and a problem.
IccProfile AssembleIccProfile(const std::vector<std::span<const uint8_t>>& app2_markers);

}  // namespace zavo
