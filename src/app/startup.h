// Start-up: the window's load event. It centres the window, fixes the
// executable's folder, loads the settings, shows the window, reads the
// host's tokens and dispatches to read mode, write mode or the end.
#pragma once

#include <string>
#include <vector>

#include "imaging/imgkit.h"
#include "platform/message_box.h"
#include "ui/form1.h"
#include "ui/module_state.h"
#include "ui/window_host.h"

namespace zavo {

// Exit statuses of the process.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitImportFailed = 1;  // also: read mode imported nothing
inline constexpr int kExitRuntimeError = 2;

struct StartupOutcome {
  bool wait_for_user = false;  // write mode: the window stays until closed
  int exit_status = kExitNormal;
};

inline constexpr const char* kHostWarningTitle = "Plumio TWAIN(32Bit) ADD_IN";
extern const char* const kHostWarningText;
extern const char* const kGifReadMessage;
// Read mode without a format fails with only the line
// "zavo: read mode: <this>"; no box shows it.
extern const char* const kNoFormatFailure;

// What write mode says when `window` is not interactive: no display, unless
// the caller knows better (the window module could not be loaded).
extern const char* const kNoDisplayFailure;

// `executable_folder` is the folder of the running program.
StartupOutcome Form_Load(ui::Form1& form, ModuleState& state, WindowHost& window,
                         MessageBoxes& boxes, ImgKit& imgkit, const std::string& executable_folder,
                         const std::vector<std::string>& arguments,
                         const std::string& no_window_failure = kNoDisplayFailure);

}  // namespace zavo
