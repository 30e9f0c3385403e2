#include "app/startup.h"

#include "app/command_line.h"
#include "host/host_exchange.h"
#include "platform/diagnostics.h"
#include "platform/file_io.h"
#include "platform/runtime_error.h"
#include "settings/settings.h"

namespace zavo {

const char* const kHostWarningText =
    "このADD_INはPlumioのからのみご利用になれます。\r\r"
    "Plumioからの場合、SETUPにてADD_INの設定を行ってからにしてください";
const char* const kGifReadMessage = "GIFは今回よりサポート外といたしました";
const char* const kNoFormatFailure = "no format was given (/JPG or /TIF); nothing was imported";
const char* const kNoDisplayFailure =
    "write mode needs a display to show its window (DISPLAY is unset or cannot be opened); "
    "nothing was saved";

namespace {

constexpr int16_t kModeNone = 0;
constexpr int16_t kModeRead = 1;
constexpr int16_t kModeWrite = 2;
constexpr int16_t kFormatUnset = 0;

struct LaunchRequest {
  int16_t LaunchMode = kModeNone;
  int16_t FormatCode = kFormatUnset;
  int16_t HostLaunch = 0;
};

bool HasPrefix(const std::string& token, const char* prefix) {
  return token.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The first matching prefix decides; later tokens overwrite earlier ones.
// "/JPEG" is the format's full name and means "/JPG".
void InterpretToken(const std::string& token, LaunchRequest& request, ModuleState& state) {
  if (HasPrefix(token, "/GP")) {
    request.HostLaunch = 1;
  } else if (HasPrefix(token, "/R")) {
    request.LaunchMode = kModeRead;
  } else if (HasPrefix(token, "/W")) {
    request.LaunchMode = kModeWrite;
  } else if (HasPrefix(token, "/GIF")) {
    request.FormatCode = kFormatGif;
  } else if (HasPrefix(token, "/TIF")) {
    request.FormatCode = kFormatTiff;
  } else if (HasPrefix(token, "/JPG") || HasPrefix(token, "/JPEG")) {
    request.FormatCode = kFormatJpeg;
  } else if (HasPrefix(token, "/ON=")) {
    state.TargetFile = token.substr(4);
  } else if (HasPrefix(token, "/FN=")) {
    state.TransferFile = token.substr(4);
  }
}

// Every read of a token slot is checked, as the host's protocol asks.
Result<LaunchRequest> InterpretTokens(const CommandLineTokens& tokens, ModuleState& state) {
  LaunchRequest request;
  for (int index = 0; index < tokens.TokenCount; ++index) {
    ZAVO_TRY_ASSIGN(const std::string token, tokens.Token(index));
    InterpretToken(token, request, state);
  }
  return request;
}

StartupOutcome RunReadMode(const LaunchRequest& request, ModuleState& state, ui::Form1& form,
                           MessageBoxes& boxes, ImgKit& imgkit) {
  // Nothing imported is a failure to the host, which would otherwise take
  // whatever transfer file was left from before.
  if (request.FormatCode == kFormatGif) {
    boxes.Show(kGifReadMessage, kMbOkOnly, kAppTitle);
    return {false, kExitImportFailed};
  }
  if (request.FormatCode != kFormatJpeg && request.FormatCode != kFormatTiff) {
    CurrentDiagnostics().Failure("read mode", kNoFormatFailure);
    return {false, kExitImportFailed};
  }
  bool imported = false;
  form.RunAlone([&] {
    imported =
        ImportForHost(imgkit, boxes, request.FormatCode, state.TargetFile, state.TransferFile);
  });
  form.Repaint();
  return {false, imported ? kExitNormal : kExitImportFailed};
}

StartupOutcome RunWriteMode(const LaunchRequest& request, ModuleState& state, ui::Form1& form,
                            WindowHost& window, MessageBoxes& boxes,
                            const std::string& no_window_failure) {
  // A folder, FIFO or device in the transfer file's place could never be
  // loaded (a FIFO would hold the window at Save): refused before the window.
  if (Result<void> transfer = CheckNotSpecialFile(state.TransferFile); !transfer) {
    ReportFailure(boxes, transfer.error().message(), kMbCritical, kAppTitle);
    return {false, kExitImportFailed};
  }
  if (!window.interactive()) {
    ReportFailure(boxes, no_window_failure, kMbExclamation, kAppTitle);
    return {false, kExitImportFailed};
  }
  form.StackPanels();
  form.ShowFormatPanel(request.FormatCode);
  form.FitHeight();
  form.Repaint();
  state.SavesOnUnload = true;
  return {true, kExitNormal};
}

}  // namespace

StartupOutcome Form_Load(ui::Form1& form, ModuleState& state, WindowHost& window,
                         MessageBoxes& boxes, ImgKit& imgkit, const std::string& executable_folder,
                         const std::vector<std::string>& arguments,
                         const std::string& no_window_failure) {
  form.CenterOnScreen(window.ScreenWidthTwips(), window.ScreenHeightTwips());
  state.AppFolder = executable_folder;
  if (state.AppFolder.empty() || state.AppFolder.back() != '/') state.AppFolder += '/';
  state.Settings = LocateSettings(state.AppFolder);
  LoadSettings(state.Settings, form);
  window.Show();
  const Result<LaunchRequest> interpreted = InterpretTokens(TokenizeArguments(arguments), state);
  form.Repaint();
  if (!interpreted) {
    ReportFailure(boxes, RuntimeErrorReport(interpreted.error()), kMbCritical, kAppTitle);
    return {false, kExitRuntimeError};
  }
  const LaunchRequest& request = interpreted.value();
  if (request.HostLaunch == 0) boxes.Show(kHostWarningText, kMbExclamation, kHostWarningTitle);
  switch (request.LaunchMode) {
    case kModeRead:
      return RunReadMode(request, state, form, boxes, imgkit);
    case kModeWrite:
      return RunWriteMode(request, state, form, window, boxes, no_window_failure);
    default:
      return {};
  }
}

}  // namespace zavo
