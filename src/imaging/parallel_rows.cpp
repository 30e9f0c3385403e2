#include "imaging/parallel_rows.h"

#include <sched.h>

namespace zavo {
namespace {

// 0: no count forced; the cores and the size of the work decide.
std::atomic<unsigned> forced_threads{0};

}  // namespace

unsigned UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

ScopedThreadCount::ScopedThreadCount(unsigned threads)
    : saved_(forced_threads.exchange(std::max(threads, 1u))) {}

ScopedThreadCount::~ScopedThreadCount() { forced_threads.store(saved_); }

unsigned ThreadsFor(uint64_t pieces, uint64_t total_bytes) {
  if (pieces <= 1) return 1;
  const unsigned forced = forced_threads.load();
  if (forced != 0) return static_cast<unsigned>(std::min<uint64_t>(forced, pieces));
  const uint64_t worth = std::min<uint64_t>(UsableCores(), total_bytes / kParallelMinBytes);
  return static_cast<unsigned>(std::clamp<uint64_t>(worth, 1, pieces));
}

}  // namespace zavo
