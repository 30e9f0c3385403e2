// The module's side of the rule in ui/window_module.h: everything the
// toolkit or the program calls into the module runs through Guarded, which
// lets no exception out.
#pragma once

#include <exception>

#include "platform/error.h"

namespace zavo::ui::fltk {

// Keeps `failure` (unless one is kept already) and hides every window, which
// ends every event loop that waits on one.
void KeepFailure(std::exception_ptr failure) noexcept;

// True while a failure is kept: nothing may wait for the user then.
bool FailureKept() noexcept;

// The kept failure as the add-in's error, if any, and forgets it.
Result<void> TakeFailure() noexcept;

template <typename Action>
void Guarded(Action&& action) noexcept {
  try {
    action();
  } catch (...) {
    KeepFailure(std::current_exception());
  }
}

// What `action` returns, or `fallback` when it throws.
template <typename Value, typename Action>
Value Guarded(Value fallback, Action&& action) noexcept {
  try {
    return action();
  } catch (...) {
    KeepFailure(std::current_exception());
    return fallback;
  }
}

}  // namespace zavo::ui::fltk
