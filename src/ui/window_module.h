// The window, its message boxes and the progress display live in a module of
// their own (zavo_window.so beside the program), loaded only when there is a
// display: a run without one never loads the toolkit or its libraries.
//
// No exception leaves the module, neither to the program nor through the
// toolkit's event loop, which could not pass one on: whatever the module runs
// (a call from the program, a toolkit callback, a repaint the model asks for)
// catches what it throws, keeps the first failure, and closes every window so
// that the event loop ends. RunUntilClosed and TakeFailure hand it over.
#pragma once

#include <memory>

#include "imaging/progress.h"
#include "platform/error.h"
#include "platform/message_box.h"
#include "ui/form1.h"
#include "ui/window_host.h"

namespace zavo::ui {

// Form1 on the screen.
class FormWindow : public WindowHost {
 public:
  // Runs the event loop until the window is unloaded; the failure that ended
  // it instead, if any (then the window is gone and nothing was saved).
  virtual Result<void> RunUntilClosed() = 0;
};

class WindowModule {
 public:
  virtual ~WindowModule() = default;
  // Connects to the display named by DISPLAY; false when it cannot.
  virtual bool OpenDisplay() = 0;
  // Valid after OpenDisplay succeeded. A box while a failure is kept only
  // becomes a line of the diagnostics: nothing waits for the user then.
  virtual MessageBoxes& boxes() = 0;
  virtual ProgressDisplay& progress() = 0;
  virtual Result<std::unique_ptr<FormWindow>> CreateWindow(Form1& form) = 0;
  // The failure kept since the last call, if any.
  virtual Result<void> TakeFailure() = 0;
};

// The module's one exported function; null when the module cannot start. It
// names the build the module belongs to in `*build`, which the loader checks
// before it uses the module.
using WindowModuleEntry = WindowModule* (*)(const char** build) noexcept;
inline constexpr const char* kWindowModuleFile = "zavo_window.so";
inline constexpr const char* kWindowModuleEntry = "zavo_window_module";

}  // namespace zavo::ui
