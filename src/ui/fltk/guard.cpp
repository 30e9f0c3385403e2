#include "ui/fltk/guard.h"

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Window.H>

#include "platform/caught_error.h"

namespace zavo::ui::fltk {
namespace {

std::exception_ptr kept;  // the first failure, until it is taken

// More windows than the add-in ever shows at once (the form, a box, the
// progress window): the bound only keeps a window that refuses to go from
// holding the failure up.
constexpr int kMostWindows = 16;

}  // namespace

void KeepFailure(std::exception_ptr failure) noexcept {
  if (!kept) kept = std::move(failure);
  // A window left half built must not take in the next one as its child.
  Fl_Group::current(nullptr);
  for (int i = 0; i < kMostWindows && Fl::first_window() != nullptr; ++i) {
    Fl::first_window()->hide();
  }
}

bool FailureKept() noexcept { return static_cast<bool>(kept); }

Result<void> TakeFailure() noexcept {
  if (!kept) return {};
  std::exception_ptr failure = std::move(kept);
  kept = nullptr;
  return ErrorOfException(failure);
}

}  // namespace zavo::ui::fltk
