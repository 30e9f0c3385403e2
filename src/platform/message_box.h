// Modal message boxes. With a display they are windows; without one each box
// becomes one line of the diagnostics and is answered as OK.
#pragma once

#include <string>

namespace zavo {

// Style bits of the message box: the icon part of the style number.
inline constexpr int kMbOkOnly = 0;
inline constexpr int kMbCritical = 16;
inline constexpr int kMbExclamation = 48;

// The application's title, carried by every box that names none.
inline constexpr const char* kAppTitle = "ZAVO32";

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows the box and waits until the user answers it.
  virtual void Show(const std::string& text, int style, const std::string& title) = 0;
  // True when boxes appear on a display, false when they become lines.
  virtual bool on_screen() const = 0;
};

// Writes each box as one line "title: text" of the process's diagnostics.
class StderrMessageBoxes : public MessageBoxes {
 public:
  void Show(const std::string& text, int style, const std::string& title) override;
  bool on_screen() const override { return false; }
};

// A failure the user must hear of: one line "zavo: title: text" of the
// process's diagnostics always, and a box too where there is a display.
void ReportFailure(MessageBoxes& boxes, const std::string& text, int style,
                   const std::string& title);

}  // namespace zavo
