// The window, its message boxes and the progress display live in a module of
// their own (zavo_window.so beside the program), loaded only when there is a
// display: a run without one never loads the toolkit or its libraries.
#pragma once

#include <memory>

#include "imaging/progress.h"
#include "platform/message_box.h"
#include "ui/form1.h"
#include "ui/window_host.h"

namespace zavo::ui {

// Form1 on the screen.
class FormWindow : public WindowHost {
 public:
  // Runs the event loop until the window is unloaded.
  virtual void RunUntilClosed() = 0;
};

class WindowModule {
 public:
  virtual ~WindowModule() = default;
  // Connects to the display named by DISPLAY; false when it cannot.
  virtual bool OpenDisplay() = 0;
  // Valid after OpenDisplay succeeded.
  virtual MessageBoxes& boxes() = 0;
  virtual ProgressDisplay& progress() = 0;
  virtual std::unique_ptr<FormWindow> CreateWindow(Form1& form) = 0;
};

// The module's one exported function.
using WindowModuleEntry = WindowModule* (*)();
inline constexpr const char* kWindowModuleFile = "zavo_window.so";
inline constexpr const char* kWindowModuleEntry = "zavo_window_module";

}  // namespace zavo::ui
