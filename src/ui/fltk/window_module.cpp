// The entry of zavo_window.so: the FLTK realisation behind WindowModule.
#include "ui/window_module.h"

#include "platform/build_id.h"
#include "ui/fltk/guard.h"
#include "ui/fltk/progress.h"
#include "ui/fltk/view.h"

namespace zavo::ui {
namespace {

class FltkWindowModule : public WindowModule {
 public:
  bool OpenDisplay() override {
    return fltk::Guarded(false, [] { return OpenDisplayIfAny(); });
  }
  MessageBoxes& boxes() override { return boxes_; }
  ProgressDisplay& progress() override { return progress_; }
  Result<std::unique_ptr<FormWindow>> CreateWindow(Form1& form) override {
    auto window = fltk::Guarded(std::unique_ptr<FormWindow>(), [&form] {
      return std::unique_ptr<FormWindow>(std::make_unique<FltkFormView>(form));
    });
    Result<void> failure = fltk::TakeFailure();
    if (!failure) return failure.error();
    return window;
  }
  Result<void> TakeFailure() override { return fltk::TakeFailure(); }

 private:
  FltkMessageBoxes boxes_;
  FltkProgressDisplay progress_;
};

}  // namespace
}  // namespace zavo::ui

extern "C" __attribute__((visibility("default"))) zavo::ui::WindowModule* zavo_window_module(
    const char** build) noexcept {
  *build = zavo::kBuildId;
  return zavo::ui::fltk::Guarded<zavo::ui::WindowModule*>(nullptr, [] {
    static zavo::ui::FltkWindowModule module;
    return &module;
  });
}
