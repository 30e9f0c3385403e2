#include "ui/fltk/progress.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Window.H>

#include "ui/fltk/guard.h"
#include "ui/fltk/widgets.h"

namespace zavo::ui {
namespace {

using Clock = std::chrono::steady_clock;

class ProgressWindow : public Progress {
 public:
  ProgressWindow(std::string caption, std::string message, std::chrono::milliseconds delay,
                 std::chrono::milliseconds interval)
      : caption_(std::move(caption)),
        message_(std::move(message)),
        interval_(interval),
        next_check_(Clock::now() + delay) {}

  ~ProgressWindow() override {
    if (window_) {
      window_->hide();
      Fl::check();
    }
  }

  // Called for every batch of rows: one clock read unless a repaint is due.
  // A failure of the window is kept for the program (see ui/window_module.h)
  // and the work goes on without it.
  void Advance(uint64_t done, uint64_t total) override {
    const Clock::time_point now = Clock::now();
    if (now < next_check_ || total == 0 || fltk::FailureKept()) return;
    next_check_ = now + interval_;
    fltk::Guarded([&] {
      if (!window_) Open();
      bar_->value(
          static_cast<float>(100.0 * static_cast<double>(done) / static_cast<double>(total)));
      Fl::check();
    });
  }

 private:
  // The window is kept only once it is whole, so a failure half way leaves
  // none to update.
  void Open() {
    fltk::SetUpFonts();
    // Laid out at 96 dpi and scaled to the display's resolution.
    const DisplayScale& scale = fltk::ScaleOfDisplay();
    auto px = [&scale](int pixels) { return scale.Scaled(pixels); };
    auto window = std::make_unique<Fl_Window>(px(320), px(76));
    window->copy_label(caption_.c_str());
    window->xclass("zavo");
    auto* text = new Fl_Box(px(12), px(8), px(296), px(24));
    text->labelfont(fltk::FontShowing({message_}));
    text->copy_label(message_.c_str());
    text->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_CLIP);
    auto* bar = new Fl_Progress(px(12), px(40), px(296), px(22));
    bar->minimum(0);
    bar->maximum(100);
    bar->selection_color(FL_DARK_BLUE);
    window->end();
    // Modal, and closing it (its frame, Escape) is ignored: the work goes
    // on, and no other window may take input until it has ended.
    window->callback([](Fl_Widget*, void*) {});
    window->set_modal();
    window->position((Fl::w() - window->w()) / 2, (Fl::h() - window->h()) / 2);
    window->show();
    bar_ = bar;
    window_ = std::move(window);
  }

  std::string caption_;
  std::string message_;
  std::chrono::milliseconds interval_;
  Clock::time_point next_check_;
  std::unique_ptr<Fl_Window> window_;
  Fl_Progress* bar_ = nullptr;
};

}  // namespace

FltkProgressDisplay::FltkProgressDisplay(std::chrono::milliseconds delay,
                                         std::chrono::milliseconds interval)
    : delay_(delay), interval_(interval) {}

std::unique_ptr<Progress> FltkProgressDisplay::Begin(const std::string& caption,
                                                     const std::string& message) {
  return fltk::Guarded(std::unique_ptr<Progress>(), [&]() -> std::unique_ptr<Progress> {
    return std::make_unique<ProgressWindow>(caption, message, delay_, interval_);
  });
}

}  // namespace zavo::ui
