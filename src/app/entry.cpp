// The core's entry: chooses the outside world (a display through the window
// module, or none), creates the window model and runs start-up; write mode
// then waits for the window.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/core_entry.h"
#include "app/headless_window.h"
#include "app/help.h"
#include "app/module_loader.h"
#include "app/startup.h"
#include "imaging/imgkit_library.h"
#include "platform/build_id.h"
#include "platform/caught_error.h"
#include "platform/diagnostics.h"
#include "platform/runtime_error.h"

namespace {

int ReportUnhandled(zavo::MessageBoxes& boxes, const zavo::Error& error) {
  zavo::ReportFailure(boxes, zavo::RuntimeErrorReport(error), zavo::kMbCritical, zavo::kAppTitle);
  return zavo::kExitRuntimeError;
}

// The display through the window module, when there is one to use. A module
// that was refused is said as a warning, and `no_window_failure` then tells
// write mode why it has no window.
zavo::ui::WindowModule* OpenScreen(const std::string& folder, std::string* no_window_failure) {
  const zavo::Result<zavo::ui::WindowModule*> loaded = zavo::LoadWindowModule(folder);
  if (!loaded) {
    zavo::CurrentDiagnostics().Warning(loaded.error().message() + "; going on without a display");
    *no_window_failure =
        "write mode cannot show its window: " + loaded.error().message() + "; nothing was saved";
    return nullptr;
  }
  zavo::ui::WindowModule* screen = loaded.value();
  if (screen == nullptr || screen->OpenDisplay()) return screen;
  if (const zavo::Result<void> failed = screen->TakeFailure(); !failed) {
    zavo::CurrentDiagnostics().Warning("the display could not be opened (" +
                                       failed.error().message() + "); going on without a display");
  }
  return nullptr;
}

int RunWithScreen(const std::string& folder, const std::vector<std::string>& arguments) {
  std::string no_window_failure = zavo::kNoDisplayFailure;
  zavo::ui::WindowModule* screen = OpenScreen(folder, &no_window_failure);
  zavo::StderrMessageBoxes stderr_boxes;
  zavo::MessageBoxes& boxes = screen ? screen->boxes() : stderr_boxes;
  try {
    zavo::LibraryImgKit imgkit(boxes, screen ? &screen->progress() : nullptr,
                               zavo::TiffModuleSource(folder));
    zavo::ModuleState state;
    zavo::ui::Form1 form(state, imgkit, boxes);
    std::unique_ptr<zavo::ui::FormWindow> window;
    zavo::HeadlessWindow headless;
    if (screen != nullptr) {
      zavo::Result<std::unique_ptr<zavo::ui::FormWindow>> created = screen->CreateWindow(form);
      if (!created) return ReportUnhandled(boxes, created.error());
      window = std::move(created).value();
    }
    zavo::WindowHost& host = window ? static_cast<zavo::WindowHost&>(*window) : headless;
    const zavo::StartupOutcome outcome =
        zavo::Form_Load(form, state, host, boxes, imgkit, folder, arguments, no_window_failure);
    // A failure inside the window module ended its event loop and is handed
    // over here, to be reported as any other.
    zavo::Result<void> ended =
        outcome.wait_for_user ? window->RunUntilClosed() : zavo::Result<void>();
    if (ended && screen != nullptr) ended = screen->TakeFailure();
    if (!ended) return ReportUnhandled(boxes, ended.error());
    return outcome.wait_for_user ? zavo::kExitNormal : outcome.exit_status;
  } catch (...) {
    return ReportUnhandled(boxes, zavo::ErrorOfException(std::current_exception()));
  }
}

// --help and --version stand alone; with anything else they are tokens.
bool PrintInformation(int argc, char** argv) {
  if (argc != 2) return false;
  const std::string argument = argv[1];
  if (argument == "--help") std::fputs(zavo::HelpText().c_str(), stdout);
  if (argument == "--version") std::fputs(zavo::VersionText().c_str(), stdout);
  return argument == "--help" || argument == "--version";
}

int Main(int argc, char** argv, const char* program_folder) noexcept {
  if (PrintInformation(argc, argv)) return zavo::kExitNormal;
  return RunWithScreen(program_folder, std::vector<std::string>(argv + 1, argv + argc));
}

}  // namespace

extern "C" zavo::CoreMain zavo_core(const char** build) noexcept {
  *build = zavo::kBuildId;
  return Main;
}
