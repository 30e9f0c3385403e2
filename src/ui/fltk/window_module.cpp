// The entry of zavo_window.so: the FLTK realisation behind WindowModule.
#include "ui/window_module.h"

#include "ui/fltk/progress.h"
#include "ui/fltk/view.h"

namespace zavo::ui {
namespace {

class FltkWindowModule : public WindowModule {
 public:
  bool OpenDisplay() override { return OpenDisplayIfAny(); }
  MessageBoxes& boxes() override { return boxes_; }
  ProgressDisplay& progress() override { return progress_; }
  std::unique_ptr<FormWindow> CreateWindow(Form1& form) override {
    return std::make_unique<FltkFormView>(form);
  }

 private:
  FltkMessageBoxes boxes_;
  FltkProgressDisplay progress_;
};

}  // namespace
}  // namespace zavo::ui

extern "C" __attribute__((visibility("default"))) zavo::ui::WindowModule* zavo_window_module() {
  static zavo::ui::FltkWindowModule module;
  return &module;
}
