// Splits work on the rows of a picture across the cores this process may run
// on. Each band of rows goes to one thread and is written by it alone, so the
// result does not depend on the number of threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace zavo {

// The cores the scheduler lets this process use (its affinity mask), at least 1.
unsigned UsableCores();

// Below this many bytes of work a thread costs more than it saves.
inline constexpr uint64_t kParallelMinBytes = uint64_t{1} << 20;

// Calls work(first_row, row_count) over the rows 0..rows-1 in bands, one band
// a thread and never more threads than cores; `row_bytes` estimates the work a
// row is, so small pictures stay on the calling thread. `work` must not throw.
template <typename Work>
void ForEachRowBand(uint32_t rows, uint64_t row_bytes, Work work) {
  const uint64_t total = uint64_t{rows} * row_bytes;
  uint64_t threads = std::min<uint64_t>(UsableCores(), total / kParallelMinBytes);
  threads = std::clamp<uint64_t>(threads, 1, std::max<uint32_t>(rows, 1));
  if (threads <= 1) {
    if (rows > 0) work(uint32_t{0}, rows);
    return;
  }
  const uint32_t band = static_cast<uint32_t>((rows + threads - 1) / threads);
  std::vector<std::thread> helpers;
  helpers.reserve(threads - 1);
  // The calling thread takes the first band itself.
  for (uint32_t first = band; first < rows; first += band) {
    const uint32_t count = std::min(band, rows - first);
    try {
      helpers.emplace_back(work, first, count);
    } catch (const std::system_error&) {
      work(first, count);  // no thread to be had: the band is done here instead
    }
  }
  work(uint32_t{0}, std::min(band, rows));
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace zavo
