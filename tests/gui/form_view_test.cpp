// What only the toolkit shows; the rules behind it are tested on the model.

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

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

void Mouse(Fl_Window& window, int event, int x, int y) {
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
  Fl::e_state = event == FL_RELEASE ? 0 : FL_BUTTON1;
  Fl::handle(event, &window);
}

void ClickAt(Fl_Window& window, int x, int y) {
  Mouse(window, FL_PUSH, x, y);
  Mouse(window, FL_RELEASE, x, y);
}

void Key(Fl_Window& window, int key, const char* text = "", int state = 0) {
  Fl::e_keysym = key;
  Fl::e_text = const_cast<char*>(text);
  Fl::e_length = static_cast<int>(std::strlen(text));
  Fl::e_state = state;
  Fl::handle(FL_KEYBOARD, &window);
}

std::string LabelOf(const Fl_Widget& widget) {
  return widget.label() != nullptr ? widget.label() : "";
}

// The modal box last seen on the screen: its width and its longest label, the text.
int seen_width = 0;
std::string seen_text;

void ReadAndCloseModalBox(void* /*data*/) {
  Fl_Window* modal = Fl::modal();
  if (modal == nullptr) return Fl::repeat_timeout(0.05, &ReadAndCloseModalBox);
  seen_width = modal->w();
  for (int i = 0; i < modal->children(); ++i) {
    const std::string label = LabelOf(*modal->child(i));
    if (label.size() > seen_text.size()) seen_text = label;
  }
  modal->hide();
}

class FormViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
    static const bool open = OpenDisplayIfAny();  // named but not opened: a failure, not a skip
    ASSERT_TRUE(open) << "cannot open the display " << std::getenv("DISPLAY");
    std::filesystem::copy_file(ZAVO_SOURCE_DIR "/data/DEF_ZAVO.CNF", folder.File("DEF_ZAVO.CNF"));
  }

  void StartWriteMode(const std::string& format, const std::string& target = "") {
    view = std::make_unique<FltkFormView>(form);
    window = view->window();
    Form_Load(form, state, *view, boxes, imgkit, folder.path().string(),
              {"/GP=1", "/W", format, "/ON=" + (target.empty() ? folder.File("out") : target),
               "/FN=" + folder.File("in.bmp")});
    form.JPEG_Q_SC->on_change = [this] {
      ++quality_changes;
      form.JPEG_Q_SC_Change();
    };
  }

  Fl_Widget& WidgetOf(const Control& control) { return *view->WidgetOf(control); }
  bool On(const OptionButton& option) {
    return static_cast<Fl_Button&>(WidgetOf(option)).value() != 0;
  }
  void Click(const Control& control) {
    const Fl_Widget& widget = WidgetOf(control);
    ClickAt(*window, widget.x() + widget.w() / 2, widget.y() + widget.h() / 2);
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

// A thumb drag changes the value once, on release, also with no motion.
TEST_F(FormViewTest, ShowsTheModelAndItsScrollBarPartsWork) {
  StartWriteMode("/JPG");
  EXPECT_EQ(WidgetOf(*form.JPEG_Q_DISP).labelsize(), form.FontPixelsOf(*form.JPEG_Q_DISP));
  for (int panel : {kJpegPanel, kGifPanel, kTiffPanel}) {
    const Fl_Widget& widget = WidgetOf(*form.Picture1[panel]);
    EXPECT_EQ(widget.visible() && widget.active(), panel == kJpegPanel) << panel;
  }
  auto& bar = static_cast<Fl_Scrollbar&>(WidgetOf(*form.JPEG_Q_SC));
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
    Mouse(*window, FL_RELEASE, x - 40, y);
    EXPECT_EQ(quality_changes, 1);
    EXPECT_LT(form.JPEG_Q_SC->value(), 75);
    EXPECT_EQ(static_cast<int>(bar.value()), form.JPEG_Q_SC->value());
  }
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(75));
  ClickAt(*window, bar.x() + bar.h() / 2, y);            // left arrow
  ClickAt(*window, bar.x() + bar.w() - bar.h() - 2, y);  // trough right of the thumb
  EXPECT_EQ(form.JPEG_Q_SC->value(), 75);
  ASSERT_TRUE(bar.take_focus());
  for (int key : {FL_End, FL_Left, FL_Page_Up}) Key(*window, key);  // 100, 99, 98: a lost key shows
  EXPECT_EQ(LabelOf(WidgetOf(*form.JPEG_Q_DISP)), " 98");
  EXPECT_EQ(Fl::focus(), &bar);
  Click(*form.JPEG_BW);
  imgkit.during_load = [this] { Click(*form.JPEG_BW); };  // a progress display lets it through
  Click(*form.Command1);
  EXPECT_EQ(imgkit.calls.at(1), "JpegFileSave(" + folder.File("out") + ", 1, , , 98, 1)");
  EXPECT_EQ(form.JPEG_BW->value(), 1);
}

// FLTK's own Tab would visit widgets in child order and every option; the
// scripts drive the rest of the keys through the real program.
TEST_F(FormViewTest, TabAndArrowsMoveTheFocusAsTheModelSays) {
  StartWriteMode("/TIF");
  ASSERT_TRUE(WidgetOf(*form.Command4).take_focus());
  const ui::Control* order[] = {form.Command2[2].get(), form.Option1.get()};
  for (const ui::Control* control : order) {
    Key(*window, FL_Tab, "\t", FL_SHIFT);  // back, then round the start
    EXPECT_EQ(Fl::focus(), &WidgetOf(*control)) << control->name();
  }
  Key(*window, FL_Right);
  EXPECT_TRUE(On(*form.Option2) && !On(*form.Option1));
  EXPECT_EQ(Fl::focus(), &WidgetOf(*form.Option2));
  Key(*window, FL_Escape, "\033");  // no close
  EXPECT_FALSE(form.unloaded());
  Fl::handle(FL_CLOSE, window);  // as FLTK passes on the frame's close button
  ASSERT_TRUE(form.unloaded());  // else RunUntilClosed waits for ever
  EXPECT_FALSE(window->shown());
  EXPECT_TRUE(view->RunUntilClosed().ok());  // at once: the window is closed
}

// FLTK's loop must never see a throw: the window closes and hands it over.
TEST_F(FormViewTest, AFailureInAnEventClosesTheWindowAndIsHandedOver) {
  StartWriteMode("/JPG");
  form.JPEG_Q_SC->on_change = [] { throw Error(ErrorKind::Overflow, "thrown by the test"); };
  const Fl_Widget& bar = WidgetOf(*form.JPEG_Q_SC);
  ClickAt(*window, bar.x() + bar.h() / 2, bar.y() + bar.h() / 2);  // left arrow
  ASSERT_FALSE(window->shown());
  testing::ExpectFailure(view->RunUntilClosed(), ErrorKind::Overflow, "thrown by the test", "");
  EXPECT_TRUE(view->RunUntilClosed().ok());  // handed over once
}

// The box under the title keeps the file name in sight; a message box wraps
// the path and stays within the screen.
TEST_F(FormViewTest, ALongPathShowsItsFileNameAndKeepsAMessageBoxWithinTheScreen) {
  const std::string name = "/holiday-photo.jpg";
  std::string path = folder.path().string();
  while (path.size() < 380) path += "/pictures";  // some 400 characters
  path += name;
  StartWriteMode("/JPG", path);
  const Fl_Widget& path_box = WidgetOf(form.Label4);
  EXPECT_TRUE(LabelOf(path_box).starts_with("…")) << LabelOf(path_box);
  EXPECT_TRUE(LabelOf(path_box).ends_with(name)) << LabelOf(path_box);
  EXPECT_STREQ(path_box.tooltip(), path.c_str());

  Fl::add_timeout(0.05, &ReadAndCloseModalBox);
  const std::string message = "書き込めません: " + path;
  FltkMessageBoxes().Show(message, kMbCritical, "JPEG保存");
  ASSERT_EQ(Fl::w(), 1024);
  EXPECT_LE(seen_width, 1024 * 90 / 100);
  std::erase(seen_text, '\n');
  EXPECT_EQ(seen_text, message);  // wrapped, nothing lost
}

TEST_F(FormViewTest, TheProgressDisplayOpensOnlyPastItsDelayAndClosesAtTheEnd) {
  const auto visible_windows = [] {
    std::vector<std::string> titles;
    for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
      if (w->visible()) titles.push_back(LabelOf(*w));
    }
    return titles;
  };
  for (const int hours : {1, 0}) {
    {
      FltkProgressDisplay display(std::chrono::hours(hours), std::chrono::milliseconds(0));
      const auto progress = display.Begin("Plumioへの引き渡し", "読み込み中");
      progress->Advance(1, 2);
      if (Fl::first_window() != nullptr) Fl::handle(FL_CLOSE, Fl::first_window());  // ignored
      EXPECT_EQ(visible_windows(), std::vector<std::string>(1 - hours, "Plumioへの引き渡し"));
    }
    EXPECT_EQ(visible_windows(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace zavo::ui
