// Splits work on the rows of a picture across the cores this process may run
// on. Each band of rows goes to one thread and is written by it alone, so the
// result does not depend on the number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace zavo {

// The cores this process may use, at least 1: those of its affinity mask, or
// fewer when its cgroup's CPU quota (or an enclosing one's) is smaller.
unsigned UsableCores();

// The cgroup v2 path of this process from the text of /proc/self/cgroup (its
// "0::" line), or nullopt under cgroup v1 alone.
std::optional<std::string> CgroupPath(std::string_view proc_self_cgroup);
// The cores a cgroup's cpu.max ("QUOTA PERIOD", in microseconds) allows:
// the quota over the period rounded up, at least 1; nullopt for "max" or
// anything unreadable.
std::optional<unsigned> QuotaCores(std::string_view cpu_max);

// Below this many bytes of work a thread costs more than it saves.
inline constexpr uint64_t kParallelMinBytes = uint64_t{1} << 20;

// While one lives, every helper here uses exactly `threads` threads for any
// work of more than one piece, whatever the cores and the size of the work:
// tests compare one thread with several on small pictures and any machine.
class ScopedThreadCount {
 public:
  explicit ScopedThreadCount(unsigned threads);
  ~ScopedThreadCount();
  ScopedThreadCount(const ScopedThreadCount&) = delete;
  ScopedThreadCount& operator=(const ScopedThreadCount&) = delete;

 private:
  unsigned saved_;
};

// The threads worth starting for `pieces` independent pieces of `total_bytes`
// of work in all: never more than the cores or the pieces, 1 for small work.
unsigned ThreadsFor(uint64_t pieces, uint64_t total_bytes);

// Runs work(thread) once on each of `threads` threads, the calling thread
// being thread 0, and returns when all are done. A thread the system refuses
// is run on the calling thread afterwards. `work` must not throw.
template <typename Work>
void RunOnThreads(unsigned threads, Work work) {
  std::vector<std::thread> helpers;
  std::vector<unsigned> refused;
  helpers.reserve(threads > 0 ? threads - 1 : 0);
  for (unsigned thread = 1; thread < threads; ++thread) {
    try {
      helpers.emplace_back(work, thread);
    } catch (const std::system_error&) {
      refused.push_back(thread);
    }
  }
  work(0u);
  for (unsigned thread : refused) work(thread);
  for (std::thread& helper : helpers) helper.join();
}

// Hands out the pieces 0..count-1 in order to whichever thread asks next, so
// a slow piece holds up no other; Stop() makes every later Next() say none.
class PieceQueue {
 public:
  explicit PieceQueue(uint32_t count) : count_(count) {}
  // The next piece, or false when none is left.
  bool Next(uint32_t* piece) {
    if (stopped_.load(std::memory_order_relaxed)) return false;
    *piece = next_.fetch_add(1, std::memory_order_relaxed);
    return *piece < count_;
  }
  void Stop() { stopped_.store(true, std::memory_order_relaxed); }
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  uint32_t count_;
  std::atomic<uint32_t> next_{0};
  std::atomic<bool> stopped_{false};
};

// Calls work(first_row, row_count) over the rows 0..rows-1 in bands, one band
// a thread and never more threads than cores; `row_bytes` estimates the work a
// row is, so small pictures stay on the calling thread. `work` must not throw.
template <typename Work>
void ForEachRowBand(uint32_t rows, uint64_t row_bytes, Work work) {
  const unsigned threads = ThreadsFor(rows, uint64_t{rows} * row_bytes);
  if (threads <= 1) {
    if (rows > 0) work(uint32_t{0}, rows);
    return;
  }
  const uint32_t band = static_cast<uint32_t>((uint64_t{rows} + threads - 1) / threads);
  RunOnThreads(threads, [&](unsigned thread) {
    const uint64_t first = uint64_t{band} * thread;
    if (first < rows) {
      work(static_cast<uint32_t>(first), std::min<uint32_t>(band, rows - uint32_t(first)));
    }
  });
}

}  // namespace zavo
