#include "platform/message_box.h"

#include "platform/diagnostics.h"

namespace zavo {

void StderrMessageBoxes::Show(const std::string& text, int /*style*/, const std::string& title) {
  CurrentDiagnostics().Message(title, text);
}

void ReportFailure(MessageBoxes& boxes, const std::string& text, int style,
                   const std::string& title) {
  CurrentDiagnostics().Failure(title, text);
  if (boxes.on_screen()) boxes.Show(text, style, title);
}

}  // namespace zavo
