// A scratch file must not outlive a process that is told to end. While one
// exists, SIGTERM, SIGINT, SIGHUP and SIGQUIT remove it and then end the
// process as the signal would have (the parent sees death by that signal);
// the file it was to replace is untouched. Outside a scratch file's life the
// signals keep the disposition the process started with, ignored included.
#pragma once

#include <signal.h>

#include <string>

namespace zavo {

// Removes `scratch` if the process is ended by one of those signals while
// the registration lives. Only the main thread registers; the handler may
// run on any thread. Register after the file is made and let go after it
// is renamed or removed: a name let go too late is only removed once more.
class ScratchCleanup {
 public:
  ScratchCleanup() = default;
  explicit ScratchCleanup(const std::string& scratch);
  ScratchCleanup(ScratchCleanup&& other) noexcept;
  ScratchCleanup& operator=(ScratchCleanup&&) = delete;
  ScratchCleanup(const ScratchCleanup&) = delete;
  ScratchCleanup& operator=(const ScratchCleanup&) = delete;
  ~ScratchCleanup() { Release(); }

  void Release() noexcept;

 private:
  int slot_ = -1;  // none: nothing registered (no free slot, or a name too long)
};

// Holds the ending signals back in the calling thread while it lives. A
// scratch file made and registered meanwhile is never left behind: a signal
// that comes between the two is handled once the name is registered. No
// other thread may run meanwhile, for the process's signals may go to it.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld();
  ~EndingSignalsHeld();
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace zavo
