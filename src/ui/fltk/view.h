// The FLTK realisation of Form1 and of the message boxes. It only draws the
// model and forwards the user's actions to it; every rule lives in the model.
#pragma once

#include <memory>
#include <string>

#include "platform/message_box.h"
#include "ui/form1.h"
#include "ui/window_module.h"

class Fl_Widget;
class Fl_Window;

namespace zavo::ui {

// Opens the X display named by DISPLAY and hands it to FLTK. False when
// DISPLAY is unset or the server cannot be reached: the add-in then runs
// without a window and its message boxes go to stderr.
bool OpenDisplayIfAny();

// Message boxes as modal FLTK windows (after OpenDisplayIfAny succeeded).
class FltkMessageBoxes : public MessageBoxes {
 public:
  void Show(const std::string& text, int style, const std::string& title) override;
  bool on_screen() const override { return true; }

 private:
  static void ShowModal(const std::string& text, int style, const std::string& title);
};

// The window of Form1 on the display.
class FltkFormView : public FormWindow {
 public:
  explicit FltkFormView(Form1& form);
  ~FltkFormView() override;

  bool interactive() const override { return true; }
  int ScreenWidthTwips() const override;
  int ScreenHeightTwips() const override;
  void Show() override;

  Result<void> RunUntilClosed() override;

  // For tests: the window and the widget that shows `control`.
  Fl_Window* window() const;
  Fl_Widget* WidgetOf(const Control& control) const;

 private:
  struct Widgets;
  Form1& form_;
  std::unique_ptr<Widgets> widgets_;
};

}  // namespace zavo::ui
