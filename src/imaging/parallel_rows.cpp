#include "imaging/parallel_rows.h"

#include <sched.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace zavo {
namespace {

// 0: no count forced; the cores and the size of the work decide.
std::atomic<unsigned> forced_threads{0};

std::string ReadSmallFile(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool ParseNumber(std::string_view text, uint64_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

// The smallest quota of the process's cgroup and those that enclose it: a
// container's limit is often set on a parent. Read once: quotas rarely change
// while a picture is imported.
std::optional<unsigned> CgroupQuotaCores() {
  const std::optional<std::string> path = CgroupPath(ReadSmallFile("/proc/self/cgroup"));
  if (!path) return std::nullopt;
  std::optional<unsigned> least;
  std::string folder = *path;
  while (true) {
    const auto cores = QuotaCores(ReadSmallFile("/sys/fs/cgroup" + folder + "/cpu.max"));
    if (cores && (!least || *cores < *least)) least = cores;
    if (folder.empty() || folder == "/") break;
    folder.resize(folder.rfind('/'));
  }
  return least;
}

unsigned AffinityCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

}  // namespace

std::optional<std::string> CgroupPath(std::string_view proc_self_cgroup) {
  while (!proc_self_cgroup.empty()) {
    const size_t end = std::min(proc_self_cgroup.find('\n'), proc_self_cgroup.size());
    const std::string_view line = proc_self_cgroup.substr(0, end);
    if (line.starts_with("0::/")) return std::string(line.substr(3));
    proc_self_cgroup.remove_prefix(std::min(end + 1, proc_self_cgroup.size()));
  }
  return std::nullopt;
}

std::optional<unsigned> QuotaCores(std::string_view cpu_max) {
  if (cpu_max.ends_with('\n')) cpu_max.remove_suffix(1);
  const size_t blank = cpu_max.find(' ');
  uint64_t quota = 0, period = 0;
  if (blank == cpu_max.npos || !ParseNumber(cpu_max.substr(0, blank), &quota) ||
      !ParseNumber(cpu_max.substr(blank + 1), &period) || period == 0) {
    return std::nullopt;
  }
  const uint64_t cores = quota / period + (quota % period != 0);
  return static_cast<unsigned>(std::clamp<uint64_t>(cores, 1, UINT32_MAX));
}

unsigned UsableCores() {
  static const std::optional<unsigned> quota = CgroupQuotaCores();
  const unsigned affinity = AffinityCores();
  return quota ? std::min(affinity, *quota) : affinity;
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
