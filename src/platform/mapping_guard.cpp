#include "platform/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace zavo {
namespace {

// A handful of files are mapped at once at most (a picture, a settings copy).
constexpr int kSlots = 16;

// Written by the registering thread, read by the signal handler: atomics
// only, no locks, nothing the handler could find half-made.
struct Slot {
  std::atomic<uintptr_t> start{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> cut{false};
};

Slot g_slots[kSlots];
struct sigaction g_previous {};
// Read once before the handler is installed: sysconf is no signal-safe call.
uintptr_t g_page_size = 4096;

// Everything from the faulting page to the mapping's end lies past the file's
// new end: one anonymous mapping of zeros replaces it, so each later page
// costs no further signal. mmap is a plain system call on Linux and safe here.
bool FillWithZeros(Slot& slot, uintptr_t address) {
  const uintptr_t start = slot.start.load(std::memory_order_acquire);
  const uintptr_t end = slot.end.load(std::memory_order_acquire);
  if (start == 0 || address < start || address >= end) return false;
  const uintptr_t page = address & ~(g_page_size - 1);
  void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  if (zeros == MAP_FAILED) return false;
  slot.cut.store(true, std::memory_order_release);
  return true;
}

void OnSigbus(int signal, siginfo_t* info, void* context) {
  // A real fault (not a kill) inside one of ours: mend it and go on.
  if (info->si_code > 0) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
      if (FillWithZeros(slot, address)) return;
    }
  }
  // Not ours: whoever handled SIGBUS before us (or the default, which ends
  // the process with a core dump) sees the same signal.
  if (g_previous.sa_flags & SA_SIGINFO) {
    g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  ::sigaction(SIGBUS, &g_previous, nullptr);
  ::raise(SIGBUS);
}

bool InstallHandler() {
  g_page_size = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = OnSigbus;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return ::sigaction(SIGBUS, &action, &g_previous) == 0;
}

}  // namespace

int GuardMapping(const void* start, size_t length) {
  static const bool installed = InstallHandler();
  if (!installed) return -1;
  const auto first = reinterpret_cast<uintptr_t>(start);
  const uintptr_t end = first + (length + g_page_size - 1) / g_page_size * g_page_size;
  for (int i = 0; i < kSlots; ++i) {
    uintptr_t free = 0;
    if (!g_slots[i].start.compare_exchange_strong(free, first, std::memory_order_acq_rel)) {
      continue;
    }
    g_slots[i].cut.store(false, std::memory_order_relaxed);
    g_slots[i].end.store(end, std::memory_order_release);
    return i;
  }
  return -1;
}

bool MappingWasCut(int slot) {
  return slot >= 0 && slot < kSlots && g_slots[slot].cut.load(std::memory_order_acquire);
}

void UnguardMapping(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  g_slots[slot].end.store(0, std::memory_order_release);
  g_slots[slot].start.store(0, std::memory_order_release);
}

}  // namespace zavo
