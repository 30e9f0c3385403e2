// The display check and the modal message boxes. The boxes are a small
// window of their own rather than fl_alert: fl_alert offers only its "!" and
// "i" icons, opens under the mouse pointer and reads "@" as a symbol.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/diagnostics.h"
#include "ui/fltk/guard.h"
#include "ui/fltk/view.h"
#include "ui/fltk/widgets.h"
#include "ui/text_fit.h"

namespace zavo::ui {

namespace {

// An X server that is resetting (Xvfb does when its last client leaves)
// refuses connections for a moment; a display that is named is worth a
// second of retries before the add-in runs without a window.
Display* ConnectToDisplay() {
  Display* display = XOpenDisplay(nullptr);
  const char* name = std::getenv("DISPLAY");
  const bool named = name != nullptr && *name != '\0';
  for (int attempt = 0; display == nullptr && named && attempt < 20; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    display = XOpenDisplay(nullptr);
  }
  return display;
}

// A display that accepts the connection but never answers would hold
// XOpenDisplay for ever, and a read-mode import with it. So the connection is
// made on a thread of its own and given up after this long; the thread then
// stays blocked until the process ends, and the run goes on without a display.
constexpr auto kDisplayAnswerLimit = std::chrono::seconds(2);

Display* ConnectWithinLimit() {
  auto connected = std::make_shared<std::promise<Display*>>();
  std::future<Display*> display = connected->get_future();
  std::thread([connected] { connected->set_value(ConnectToDisplay()); }).detach();
  if (display.wait_for(kDisplayAnswerLimit) == std::future_status::ready) return display.get();
  const char* name = std::getenv("DISPLAY");
  CurrentDiagnostics().Warning(
      "the display " + std::string(name != nullptr ? name : "") + " did not answer within " +
      std::to_string(kDisplayAnswerLimit.count()) + " seconds; going on without a display");
  return nullptr;
}

}  // namespace

bool OpenDisplayIfAny() {
  if (fl_display != nullptr) return true;
  // FLTK's own opening calls exit(1) when there is no display, so the
  // connection is opened here and handed over.
  Display* display = ConnectWithinLimit();
  if (display == nullptr) return false;
  fl_open_display(display);
  fltk::SetUpFonts();
  return true;
}

namespace {

// Icon bits of the style number beyond those message_box.h names (64,
// information, is the default of MessageIcon).
constexpr int kMbQuestion = 32;
constexpr int kMbIconMask = 0x70;

// Sizes at 96 dpi, scaled to the display's resolution as the text is.
constexpr int kMargin = 12;
constexpr int kIconSide = 32;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 24;

int Px(int pixels_at_96) { return fltk::ScaleOfDisplay().Scaled(pixels_at_96); }

// The Windows icon of a message box style, drawn with FLTK primitives.
class MessageIcon : public Fl_Widget {
 public:
  MessageIcon(int x, int y, int icon)
      : Fl_Widget(x, y, Px(kIconSide), Px(kIconSide)), icon_(icon) {}
  void draw() override;

 private:
  void DrawExclamation() const;
  void DrawCritical() const;
  void DrawLetter(const char* letter) const;
  // A length of the 32-pixel design at the icon's size.
  int At(int design) const { return design * w() / kIconSide; }
  int icon_;
};

void MessageIcon::draw() {
  switch (icon_) {
    case kMbExclamation:
      DrawExclamation();
      break;
    case kMbCritical:
      DrawCritical();
      break;
    default:
      DrawLetter(icon_ == kMbQuestion ? "?" : "i");
      break;
  }
}

void MessageIcon::DrawExclamation() const {
  const int cx = x() + w() / 2;
  const int bottom = y() + h() - 2;
  fl_color(FL_YELLOW);
  fl_polygon(cx, y() + 1, x() + w() - 1, bottom, x(), bottom);
  fl_color(FL_BLACK);
  fl_loop(cx, y() + 1, x() + w() - 1, bottom, x(), bottom);
  fl_rectf(cx - At(2), y() + At(10), At(4), At(12));
  fl_rectf(cx - At(2), y() + At(24), At(4), At(4));
}

void MessageIcon::DrawCritical() const {
  fl_color(FL_RED);
  fl_pie(x(), y(), w(), h(), 0, 360);
  fl_color(FL_WHITE);
  fl_line_style(FL_SOLID, At(4));
  fl_line(x() + At(10), y() + At(10), x() + w() - At(11), y() + h() - At(11));
  fl_line(x() + w() - At(11), y() + At(10), x() + At(10), y() + h() - At(11));
  fl_line_style(0);
}

void MessageIcon::DrawLetter(const char* letter) const {
  fl_color(FL_BLUE);
  fl_pie(x(), y(), w(), h(), 0, 360);
  fl_color(FL_WHITE);
  fl_font(FL_TIMES_BOLD, At(24));
  fl_draw(letter, x(), y(), w(), h(), FL_ALIGN_CENTER, nullptr, 0);
}

// Windows ends a line of a message at CR, CR LF or LF; FLTK only at LF.
std::string WithLineFeeds(const std::string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      result += text[i];
      continue;
    }
    result += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return result;
}

void HideWindowOf(Fl_Widget* widget, void* /*unused*/) {
  fltk::Guarded([widget] {
    Fl_Window* window = widget->as_window() != nullptr ? widget->as_window() : widget->window();
    window->hide();
  });
}

// The box's parts, laid out around the text as it is wrapped and measured.
struct BoxLayout {
  std::string text;
  int text_x, text_w, text_h, width, height;
};

// A box is never wider than this share of the screen: a longer line (a
// long path, say) is wrapped at its "/" and blanks instead.
constexpr int kWidestBoxPercent = 90;

BoxLayout LayOut(const std::string& text, bool with_icon, Fl_Font font) {
  const int margin = Px(kMargin);
  const int icon = Px(kIconSide);
  const int text_x = margin + (with_icon ? icon + margin : 0);
  // A left-aligned label is drawn 3 pixels in from either side of its box.
  const int widest_text = Fl::w() * kWidestBoxPercent / 100 - text_x - margin - 6;
  fl_font(font, FL_NORMAL_SIZE);
  BoxLayout layout{WrapToWidth(text, widest_text,
                               [](std::string_view line) {
                                 return fl_width(line.data(), static_cast<int>(line.size()));
                               }),
                   text_x,
                   0,
                   0,
                   0,
                   0};
  fl_measure(layout.text.c_str(), layout.text_w, layout.text_h, 0);
  layout.text_w += 6;
  layout.width = std::max(text_x + layout.text_w + margin, Px(kButtonWidth) + 2 * margin);
  const int body = std::max(layout.text_h, with_icon ? icon : 0);
  layout.height = margin + body + margin + Px(kButtonHeight) + margin;
  return layout;
}

}  // namespace

// While a failure is kept the windows are closing and nobody is asked
// anything: the box becomes a line, as it would without a display.
void FltkMessageBoxes::Show(const std::string& text, int style, const std::string& title) {
  fltk::Guarded([&] {
    if (!fltk::FailureKept()) ShowModal(text, style, title);
  });
  if (fltk::FailureKept()) {
    fltk::Guarded([&] { StderrMessageBoxes().Show(text, style, title); });
  }
}

void FltkMessageBoxes::ShowModal(const std::string& text, int style, const std::string& title) {
  fltk::SetUpFonts();
  const std::string body = WithLineFeeds(text);
  const int icon = style & kMbIconMask;
  const Fl_Font font = fltk::FontShowing({body});
  const BoxLayout layout = LayOut(body, icon != 0, font);
  Fl_Window box((Fl::w() - layout.width) / 2, (Fl::h() - layout.height) / 2, layout.width,
                layout.height);
  box.copy_label(title.c_str());
  box.xclass("zavo");
  if (icon != 0) new MessageIcon(Px(kMargin), Px(kMargin), icon);
  auto* message = new Fl_Box(layout.text_x, Px(kMargin), layout.text_w, layout.text_h);
  message->labeltype(fltk::PlainLabel());
  message->labelfont(font);
  message->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT | FL_ALIGN_CLIP);
  message->copy_label(layout.text.c_str());
  auto* ok = new Fl_Return_Button((layout.width - Px(kButtonWidth)) / 2,
                                  layout.height - Px(kMargin) - Px(kButtonHeight), Px(kButtonWidth),
                                  Px(kButtonHeight), "OK");
  ok->callback(&HideWindowOf);
  box.end();
  // Escape and the frame's close answer the box as OK does.
  box.callback(&HideWindowOf);
  box.set_modal();
  box.show();
  while (box.shown()) Fl::wait();
}

}  // namespace zavo::ui
