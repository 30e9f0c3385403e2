// The process entry: chooses the outside world (a display through the window
// module, or none), creates the window model and runs start-up; write mode
// then waits for the window.
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/help.h"
#include "app/module_loader.h"
#include "app/startup.h"
#include "imaging/imgkit_library.h"
#include "platform/runtime_error.h"

namespace {

std::string ExecutableFolder(const char* argv0) {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string path = length > 0 ? std::string(buffer, static_cast<size_t>(length)) : argv0;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

int ReportUnhandled(zavo::MessageBoxes& boxes, const zavo::Error& error) {
  zavo::ReportFailure(boxes, zavo::RuntimeErrorReport(error), zavo::kMbCritical, zavo::kAppTitle);
  return zavo::kExitRuntimeError;
}

int Run(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const std::string folder = ExecutableFolder(argv[0]);
  zavo::ui::WindowModule* screen = zavo::LoadWindowModule(folder);
  if (screen != nullptr && !screen->OpenDisplay()) screen = nullptr;
  zavo::StderrMessageBoxes stderr_boxes;
  zavo::MessageBoxes& boxes = screen ? screen->boxes() : stderr_boxes;
  zavo::LibraryImgKit imgkit(boxes, screen ? &screen->progress() : nullptr,
                             zavo::TiffModuleSource(folder));
  zavo::ModuleState state;
  zavo::ui::Form1 form(state, imgkit, boxes);
  std::unique_ptr<zavo::ui::FormWindow> window;
  zavo::HeadlessWindow headless;
  if (screen != nullptr) window = screen->CreateWindow(form);
  zavo::WindowHost& host = window ? static_cast<zavo::WindowHost&>(*window) : headless;
  try {
    const zavo::StartupOutcome outcome =
        zavo::Form_Load(form, state, host, boxes, imgkit, folder, arguments);
    if (!outcome.wait_for_user) return outcome.exit_status;
    window->RunUntilClosed();
    return zavo::kExitNormal;
  } catch (const zavo::Error& error) {
    return ReportUnhandled(boxes, error);
  } catch (const std::bad_alloc&) {
    return ReportUnhandled(boxes, zavo::Error(zavo::ErrorKind::TooLarge, ""));
  } catch (const std::exception& error) {
    return ReportUnhandled(boxes, zavo::Error(zavo::ErrorKind::Internal, error.what()));
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

}  // namespace

int main(int argc, char** argv) {
  if (PrintInformation(argc, argv)) return 0;
  // Past the file-size limit (ulimit -f) a write then fails with EFBIG and is
  // reported like any failed write, instead of the signal killing the
  // process silently with its scratch file left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  const int status = Run(argc, argv);
  std::fflush(nullptr);
  // Ends at once: no window unload sequence, no settings save.
  std::_Exit(status);
}
