#include "platform/scratch_cleanup.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <iterator>
#include <utility>

namespace zavo {
namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
constexpr size_t kSignalCount = std::size(kEndingSignals);

// More scratch files than ever exist at once (a picture and the settings).
constexpr int kSlots = 4;

// The handler may only read what was made before the signal: each name is
// copied here whole before its slot is marked used.
struct Slot {
  std::atomic<bool> used{false};
  char path[PATH_MAX];
};
Slot slots[kSlots];
int used_slots = 0;  // main thread only
struct sigaction replaced[kSignalCount];
bool installed[kSignalCount] = {};

// Async-signal-safe only: unlink, raise and the mask. SA_RESETHAND has put
// the default disposition back, so the signal raised again, once unblocked,
// ends the process as it would have without us.
void RemoveScratchFilesAndEnd(int signal_number) {
  for (Slot& slot : slots) {
    if (slot.used.load(std::memory_order_acquire)) ::unlink(slot.path);
  }
  ::raise(signal_number);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
}

// A signal the process was started with ignored (nohup, a background job)
// or handled by someone else is left as it is.
void InstallHandlers() {
  struct sigaction action {};
  action.sa_handler = RemoveScratchFilesAndEnd;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction current {};
    if (sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    installed[i] = sigaction(kEndingSignals[i], &action, &replaced[i]) == 0;
  }
}

void RestoreHandlers() {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (installed[i]) sigaction(kEndingSignals[i], &replaced[i], nullptr);
    installed[i] = false;
  }
}

}  // namespace

ScratchCleanup::ScratchCleanup(const std::string& scratch) {
  if (scratch.size() >= PATH_MAX) return;
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].used.load(std::memory_order_relaxed)) continue;
    std::memcpy(slots[i].path, scratch.c_str(), scratch.size() + 1);
    slots[i].used.store(true, std::memory_order_release);
    if (used_slots++ == 0) InstallHandlers();
    slot_ = i;
    return;
  }
}

ScratchCleanup::ScratchCleanup(ScratchCleanup&& other) noexcept
    : slot_(std::exchange(other.slot_, -1)) {}

void ScratchCleanup::Release() noexcept {
  if (slot_ < 0) return;
  slots[slot_].used.store(false, std::memory_order_release);
  slot_ = -1;
  if (--used_slots == 0) RestoreHandlers();
}

EndingSignalsHeld::EndingSignalsHeld() {
  sigset_t ending;
  sigemptyset(&ending);
  for (const int signal_number : kEndingSignals) sigaddset(&ending, signal_number);
  pthread_sigmask(SIG_BLOCK, &ending, &previous_);
}

EndingSignalsHeld::~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace zavo
