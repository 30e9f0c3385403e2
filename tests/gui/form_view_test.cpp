// The FLTK window driven in-process, for what only the toolkit shows: the
// scroll bar's parts, focus and keys as FLTK routes them, the window
// manager's close and frame, and message boxes. Every rule behind them is
// tested on the model. Skipped without DISPLAY (./test runs it under Xvfb).

// gtest before the X headers, whose None macro breaks it.
// clang-format off
#include <gtest/gtest.h>
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "support/fakes.h"
#include "support/test_support.h"
#include "ui/fltk/progress.h"
#include "ui/fltk/view.h"

namespace zavo::ui {
namespace {

// A display that is named but cannot be opened is a failure, not a skip.
#define ZAVO_REQUIRE_DISPLAY()                                                 \
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display"; \
  static const bool open = OpenDisplayIfAny();                                 \
  ASSERT_TRUE(open) << "cannot open the display " << std::getenv("DISPLAY")

// A mouse event at window pixel (x, y) with the left button down or up.
void Mouse(Fl_Window& window, int event, int x, int y) {
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = window.x() + x;
  Fl::e_y_root = window.y() + y;
  Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
  Fl::e_state = event == FL_RELEASE ? 0 : FL_BUTTON1;
  Fl::handle(event, &window);
}

void ClickAt(Fl_Window& window, int x, int y) {
  Mouse(window, FL_PUSH, x, y);
  Mouse(window, FL_RELEASE, x, y);
}

void Key(Fl_Window& window, int key, const char* text = "", int state = 0) {
  static char buffer[8];
  std::strncpy(buffer, text, sizeof buffer - 1);
  Fl::e_keysym = key;
  Fl::e_text = buffer;
  Fl::e_length = static_cast<int>(std::strlen(buffer));
  Fl::e_state = state;
  Fl::handle(FL_KEYBOARD, &window);
}

// Lets FLTK handle what the X server sends until `done`; a bounded number
// of rounds, so that a condition that never comes fails the test at once.
template <typename Done>
bool WaitFor(Done done) {
  for (int round = 0; round < 100 && !done(); ++round) Fl::wait(0.02);
  return done();
}

std::string LabelOf(const Fl_Widget& widget) {
  return widget.label() != nullptr ? widget.label() : "";
}

class FormViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVO_REQUIRE_DISPLAY();
    std::filesystem::copy_file(ZAVO_SOURCE_DIR "/data/DEF_ZAVO.CNF", folder.File("DEF_ZAVO.CNF"));
  }

  void Start(const std::vector<std::string>& arguments) {
    view = std::make_unique<FltkFormView>(form);
    window = view->window();
    ::testing::internal::CaptureStderr();
    Form_Load(form, state, *view, boxes, imgkit, folder.path().string(), arguments);
    ::testing::internal::GetCapturedStderr();
    form.JPEG_Q_SC->on_change = [this] {
      ++quality_changes;
      form.JPEG_Q_SC_Change();
    };
  }
  void StartWriteMode(const std::string& format) {
    Start({"/GP=1", "/W", format, "/ON=" + folder.File("out"), "/FN=" + folder.File("in.bmp")});
  }

  Fl_Widget& WidgetOf(const Control& control) { return *view->WidgetOf(control); }
  Fl_Scrollbar& Bar() { return static_cast<Fl_Scrollbar&>(WidgetOf(*form.JPEG_Q_SC)); }
  bool On(const OptionButton& option) {
    return static_cast<Fl_Button&>(WidgetOf(option)).value() != 0;
  }
  void Click(const Control& control) {
    const Fl_Widget& widget = WidgetOf(control);
    ClickAt(*window, widget.x() + widget.w() / 2, widget.y() + widget.h() / 2);
  }
  // What a window manager sends when the frame's close button is clicked.
  void CloseThroughTheFrame() {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = fl_xid(window);
    event.xclient.message_type = XInternAtom(fl_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(fl_display, "WM_DELETE_WINDOW", False));
    XSendEvent(fl_display, event.xclient.window, False, NoEventMask, &event);
    XFlush(fl_display);
  }

  testing::TempDir folder;
  ModuleState state;
  testing::RecordingImgKit imgkit;
  testing::RecordingMessageBoxes boxes;
  Form1 form{state, imgkit, boxes};
  std::unique_ptr<FltkFormView> view;  // after the form: destroyed before it
  Fl_Window* window = nullptr;
  int quality_changes = 0;
};

// The view realises the model's pixels; only the front panel shows.
TEST_F(FormViewTest, ShowsTheModelsPlacesAndOnlyTheFrontPanelTakesClicks) {
  StartWriteMode("/JPG");
  ASSERT_TRUE(window->shown());
  EXPECT_EQ(LabelOf(*window), "Plumio File Option ADDIN");
  EXPECT_STREQ(window->xclass(), "zavo");
  EXPECT_EQ((PixelRect{window->x(), window->y(), window->w(), window->h()}), form.ClientPixels());
  const Fl_Widget& label = WidgetOf(*form.JPEG_Q_DISP);
  EXPECT_EQ((PixelRect{label.x(), label.y(), label.w(), label.h()}),
            form.PixelsOf(*form.JPEG_Q_DISP));
  EXPECT_EQ(label.labelsize(), form.FontPixelsOf(*form.JPEG_Q_DISP));
  for (int panel : {kJpegPanel, kGifPanel, kTiffPanel}) {
    const Fl_Widget& widget = WidgetOf(*form.Picture1[panel]);
    EXPECT_EQ(widget.visible() && widget.active(), panel == kJpegPanel) << panel;
  }
  EXPECT_EQ(LabelOf(WidgetOf(form.Label4)), folder.File("out"));
  EXPECT_EQ(LabelOf(WidgetOf(*form.JPEG_Q_DISP)), " 75");  // the template's quality
  Click(*form.JPEG_BW);
  Click(*form.Command1);
  ASSERT_EQ(imgkit.calls.size(), 3u);
  EXPECT_EQ(imgkit.calls[1], "JpegFileSave(" + folder.File("out") + ", 1, , , 75, 1)");
}

// A thumb drag changes the value once, on release, also when FLTK delivers
// no motion in between; arrows and the trough step by one, keys as well.
TEST_F(FormViewTest, ScrollBarPartsChangeTheQualityAsTheModelSays) {
  StartWriteMode("/JPG");
  Fl_Scrollbar& bar = Bar();
  const int y = bar.y() + bar.h() / 2;
  // The thumb at 75 of 0..100 between the square arrows.
  const int trough = bar.w() - 2 * bar.h();
  const int thumb = std::max(static_cast<int>(bar.slider_size() * trough + .5), bar.h() / 2 + 1);
  const int x = bar.x() + bar.h() + (75 * (trough - thumb) + 50) / 100 + thumb / 2;
  for (bool with_motion : {true, false}) {
    ASSERT_TRUE(form.JPEG_Q_SC->SetValue(75));
    quality_changes = 0;
    Mouse(*window, FL_PUSH, x, y);
    if (with_motion) Mouse(*window, FL_DRAG, x - 40, y);
    EXPECT_EQ(quality_changes, 0);
    EXPECT_EQ(LabelOf(WidgetOf(*form.JPEG_Q_DISP)), " 75");
    Mouse(*window, FL_RELEASE, x - 40, y);
    EXPECT_EQ(quality_changes, 1);
    EXPECT_LT(form.JPEG_Q_SC->value(), 75);
    EXPECT_EQ(static_cast<int>(bar.value()), form.JPEG_Q_SC->value());
    EXPECT_EQ(LabelOf(WidgetOf(*form.JPEG_Q_DISP)), " " + std::to_string(form.JPEG_Q_SC->value()));
  }
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(75));
  ClickAt(*window, bar.x() + bar.w() - bar.h() / 2, y);  // right arrow
  ClickAt(*window, bar.x() + bar.h() / 2, y);            // left arrow, twice
  ClickAt(*window, bar.x() + bar.h() / 2, y);
  ClickAt(*window, bar.x() + bar.w() - bar.h() - 2, y);  // trough right of the thumb
  EXPECT_EQ(form.JPEG_Q_SC->value(), 75);
  ASSERT_TRUE(bar.take_focus());
  Key(*window, FL_Left);
  EXPECT_EQ(form.JPEG_Q_SC->value(), 74);
  Key(*window, FL_End);
  Key(*window, FL_Page_Up);
  EXPECT_EQ(LabelOf(WidgetOf(*form.JPEG_Q_DISP)), " 99");
  EXPECT_EQ(Fl::focus(), &bar);
}

// FLTK's own Tab would visit widgets in child order and every option.
TEST_F(FormViewTest, TabAndArrowsMoveTheFocusAsTheModelSays) {
  StartWriteMode("/TIF");
  Fl::focus(nullptr);
  const ui::Control* order[] = {form.Command2[2].get(), form.Command4.get(), form.Option1.get(),
                                form.Command2[2].get()};
  for (const ui::Control* control : order) {
    Key(*window, FL_Tab, "\t");
    EXPECT_EQ(Fl::focus(), &WidgetOf(*control)) << control->name();
  }
  Key(*window, FL_Tab, "\t", FL_SHIFT);  // back round the start
  EXPECT_EQ(Fl::focus(), &WidgetOf(*form.Option1));
  Key(*window, FL_Right);
  EXPECT_TRUE(On(*form.Option2));
  EXPECT_FALSE(On(*form.Option1));
  EXPECT_EQ(Fl::focus(), &WidgetOf(*form.Option2));
  ASSERT_TRUE(WidgetOf(*form.Command4).take_focus());
  Key(*window, FL_Enter, "\r");
  Key(*window, FL_Escape, "\033");  // no close
  ASSERT_EQ(imgkit.calls.size(), 3u);
  EXPECT_EQ(imgkit.calls[1], "TiffFileSave(" + folder.File("out") + ", 1, , 圧縮保存中, 5)");
  EXPECT_FALSE(form.unloaded());
}

// The back button and the frame's close unload (also with every panel
// disabled), take the window away and end the loop.
TEST_F(FormViewTest, BackButtonAndTheFramesCloseUnload) {
  for (const char* format : {"/JPG", "/TIF", ""}) {
    SCOPED_TRACE(format);
    Form1 fresh{state, imgkit, boxes};
    view = std::make_unique<FltkFormView>(fresh);
    window = view->window();
    Form_Load(fresh, state, *view, boxes, imgkit, folder.path().string(),
              {"/GP", "/W", format, "/ON=" + folder.File("out")});
    if (std::string(format) == "/JPG") {
      Click(*fresh.Command2[0]);
    } else {
      CloseThroughTheFrame();
      EXPECT_TRUE(WaitFor([&] { return fresh.unloaded(); }));
    }
    EXPECT_TRUE(fresh.unloaded());
    EXPECT_FALSE(window->shown());
    view->RunUntilClosed();  // returns at once
    view.reset();
  }
  EXPECT_NE(testing::ReadText(folder.File("ZAVO.CNF")).find("JPGQ ,  75 "), std::string::npos);
}

// A window centred on the screen stays centred by its outer size once the
// window manager reports its frame.
TEST_F(FormViewTest, AReportedFrameMovesTheWindowToStayCentred) {
  StartWriteMode("/JPG");
  const long extents[] = {2, 10, 24, 4};  // left, right, top, bottom
  XChangeProperty(fl_display, fl_xid(window), XInternAtom(fl_display, "_NET_FRAME_EXTENTS", False),
                  XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(extents),
                  4);
  XFlush(fl_display);
  const int y = window->y();
  ASSERT_TRUE(WaitFor([&] { return window->y() != y; }));
  EXPECT_EQ(window->x(), form.ClientPixels().x);
  EXPECT_EQ(window->y(), y - (24 + 4) / 2 + 24);
}

// Work that ends within the delay shows nothing; longer work shows its
// caption and message until it ends.
TEST(FltkProgressDisplay, OpensOnlyPastItsDelayAndClosesAtTheEnd) {
  ZAVO_REQUIRE_DISPLAY();
  const auto visible_windows = [] {
    std::vector<std::string> titles;
    for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
      if (w->visible()) titles.push_back(LabelOf(*w));
    }
    return titles;
  };
  for (const auto delay : {std::chrono::hours(1), std::chrono::hours(0)}) {
    const bool past = delay.count() == 0;
    {
      FltkProgressDisplay display(delay, std::chrono::milliseconds(0));
      const auto progress = display.Begin("Plumioへの引き渡し", "読み込み中");
      progress->Advance(1, 2);
      EXPECT_EQ(visible_windows(),
                past ? std::vector<std::string>{"Plumioへの引き渡し"} : std::vector<std::string>{});
    }
    EXPECT_EQ(visible_windows(), std::vector<std::string>{});
  }
}

void ReadAndAnswerBox(void* seen_box) {
  auto& seen = *static_cast<std::vector<std::string>*>(seen_box);
  Fl_Window* box = Fl::modal();
  if (box == nullptr) return Fl::repeat_timeout(0.05, &ReadAndAnswerBox, seen_box);
  seen = {LabelOf(*box), box->xclass()};
  for (int i = 0; i < box->children(); ++i) {
    if (LabelOf(*box->child(i)).starts_with("first")) seen.push_back(LabelOf(*box->child(i)));
  }
  Key(*box, FL_Enter, "\r");
}

TEST(FltkMessageBoxes, ShowsTitleAndTextWithCarriageReturnsAsLineBreaks) {
  ZAVO_REQUIRE_DISPLAY();
  std::vector<std::string> seen;
  Fl::add_timeout(0.05, &ReadAndAnswerBox, &seen);
  FltkMessageBoxes().Show("first\r\rsecond @ line", kMbExclamation, "Plumio TWAIN(32Bit) ADD_IN");
  Fl::remove_timeout(&ReadAndAnswerBox, &seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"Plumio TWAIN(32Bit) ADD_IN", "zavo",
                                            "first\n\nsecond @ line"}));
}

}  // namespace
}  // namespace zavo::ui
