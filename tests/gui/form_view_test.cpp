// The FLTK window driven in-process: start-up through Form_Load, then mouse
// and key events handed to FLTK as the X server would deliver them. Needs an
// X display (./test runs it under Xvfb); without one every test is skipped.

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
#include "ui/fltk/view.h"

namespace zavo::ui {
namespace {

using Calls = std::vector<std::string>;

// Skipped without DISPLAY; a display that is named but cannot be opened
// is a failure, not a reason to skip.
bool DisplayNamed() { return std::getenv("DISPLAY") != nullptr; }

bool HaveDisplay() {
  static const bool open = OpenDisplayIfAny();
  return open;
}

// --- events at window coordinates ---

void PointAt(Fl_Window& window, int x, int y) {
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = window.x() + x;
  Fl::e_y_root = window.y() + y;
}

void Push(Fl_Window& window, int x, int y) {
  PointAt(window, x, y);
  Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
  Fl::e_state = FL_BUTTON1;
  Fl::handle(FL_PUSH, &window);
}

void DragTo(Fl_Window& window, int x, int y) {
  PointAt(window, x, y);
  Fl::e_state = FL_BUTTON1;
  Fl::handle(FL_DRAG, &window);
}

void Release(Fl_Window& window, int x, int y) {
  PointAt(window, x, y);
  Fl::e_state = 0;
  Fl::handle(FL_RELEASE, &window);
}

void ClickAt(Fl_Window& window, int x, int y) {
  Push(window, x, y);
  Release(window, x, y);
}

void Click(Fl_Window& window, const Fl_Widget& widget) {
  ClickAt(window, widget.x() + widget.w() / 2, widget.y() + widget.h() / 2);
}

void Key(Fl_Window& window, int key, const char* text, int state = 0) {
  static char buffer[8];
  std::strncpy(buffer, text, sizeof buffer - 1);
  Fl::e_keysym = key;
  Fl::e_text = buffer;
  Fl::e_length = static_cast<int>(std::strlen(buffer));
  Fl::e_state = state;
  Fl::handle(FL_KEYBOARD, &window);
}

// What a window manager sends when the frame's close button is clicked.
void SendDeleteWindow(Fl_Window& window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = fl_xid(&window);
  event.xclient.message_type = XInternAtom(fl_display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(fl_display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(fl_display, event.xclient.window, False, NoEventMask, &event);
  XFlush(fl_display);
}

template <typename Done>
void WaitFor(Done done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!done() && std::chrono::steady_clock::now() < give_up) Fl::wait(0.02);
}

std::string LabelOf(const Fl_Widget& widget) {
  return widget.label() != nullptr ? widget.label() : "";
}

// Where the thumb's centre lies: square arrows at both ends, the thumb at
// least half the bar's height wide, placed by value along the trough.
int ThumbCentre(const Fl_Scrollbar& bar) {
  const int h = bar.h();
  const int trough = bar.w() - 2 * h;
  const int thumb = std::max(static_cast<int>(bar.slider_size() * trough + .5), h / 2 + 1);
  const double fraction = (bar.value() - bar.minimum()) / (bar.maximum() - bar.minimum());
  return bar.x() + h + static_cast<int>(fraction * (trough - thumb) + .5) + thumb / 2;
}

class FormViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DisplayNamed()) GTEST_SKIP() << "needs an X display (run under Xvfb)";
    ASSERT_TRUE(HaveDisplay()) << "cannot open the display " << std::getenv("DISPLAY");
    std::filesystem::copy_file(ZAVO_SOURCE_DIR "/data/DEF_ZAVO.CNF", folder.File("DEF_ZAVO.CNF"));
  }

  void Start(const std::vector<std::string>& arguments) {
    view = std::make_unique<FltkFormView>(form);
    window = view->window();
    outcome = Form_Load(form, state, *view, boxes, imgkit, folder.path().string(), arguments);
    form.JPEG_Q_SC->on_change = [this] {
      ++quality_changes;
      form.JPEG_Q_SC_Change();
    };
  }

  void StartWriteMode(const std::string& format) {
    Start({"/GP=1", "/W", format, "/ON=" + target, "/FN=" + transfer});
  }

  Fl_Widget& WidgetOf(const Control& control) { return *view->WidgetOf(control); }
  Fl_Scrollbar& Bar() { return static_cast<Fl_Scrollbar&>(WidgetOf(*form.JPEG_Q_SC)); }
  std::string Display() { return LabelOf(WidgetOf(*form.JPEG_Q_DISP)); }

  void ExpectRect(const Control& control, int x, int y, int w, int h) {
    const Fl_Widget& widget = WidgetOf(control);
    EXPECT_EQ(widget.x(), x) << control.name();
    EXPECT_EQ(widget.y(), y) << control.name();
    EXPECT_EQ(widget.w(), w) << control.name();
    EXPECT_EQ(widget.h(), h) << control.name();
  }

  testing::TempDir folder;
  const std::string target = folder.File("out.jpg");
  const std::string transfer = folder.File("in.bmp");
  ModuleState state;
  testing::RecordingImgKit imgkit;
  testing::RecordingMessageBoxes boxes;
  Form1 form{state, imgkit, boxes};
  std::unique_ptr<FltkFormView> view;  // after the form: destroyed before it
  Fl_Window* window = nullptr;
  StartupOutcome outcome;
  int quality_changes = 0;
};

// --- geometry and start-up state ---

TEST_F(FormViewTest, WindowIsCentredForItsCreationSizeAndThenGrowsDownward) {
  StartWriteMode("/JPG");
  ASSERT_TRUE(outcome.wait_for_user);
  EXPECT_TRUE(window->shown());
  EXPECT_EQ(LabelOf(*window), "Plumio File Option ADDIN");
  EXPECT_STREQ(window->xclass(), "zavo");
  // 264 x 48 centred on 1024 x 768, then 2715 twips high.
  EXPECT_EQ(window->x(), 380);
  EXPECT_EQ(window->y(), 360);
  EXPECT_EQ(window->w(), 264);
  EXPECT_EQ(window->h(), 181);
}

TEST_F(FormViewTest, ControlsSitAtTheirTwipsPlacesSummedOverTheirContainers) {
  StartWriteMode("/JPG");
  ExpectRect(form.Label1, 48, 8, 209, 22);
  ExpectRect(form.Label4, 0, 56, 265, 17);
  ExpectRect(*form.JPEG_Q_DISP, 210, 96, 41, 25);  // (0+30+3120, 1080+0+360)
  ExpectRect(*form.JPEG_Q_SC, 10, 104, 201, 17);
  ExpectRect(*form.Command1, 10, 152, 73, 17);
  ExpectRect(*form.Command2[0], 178, 152, 73, 17);
  EXPECT_EQ(WidgetOf(form.Label1).labelsize(), 16);
  EXPECT_EQ(WidgetOf(*form.Label3).labelsize(), 12);
}

TEST_F(FormViewTest, JpegModeShowsPanelZeroInFrontAndOnlyItTakesInput) {
  StartWriteMode("/JPG");
  const Fl_Widget& front = WidgetOf(*form.Picture1[kJpegPanel]);
  EXPECT_TRUE(front.visible() && front.active());
  EXPECT_EQ(front.parent()->child(front.parent()->children() - 1), &front);
  for (int panel : {kGifPanel, kTiffPanel}) {
    EXPECT_FALSE(WidgetOf(*form.Picture1[panel]).active()) << panel;
    EXPECT_FALSE(WidgetOf(*form.Picture1[panel]).visible()) << panel;
  }
  EXPECT_EQ(LabelOf(WidgetOf(form.Label4)), target);
  EXPECT_EQ(Display(), " 75");  // the template's quality
}

TEST_F(FormViewTest, TiffModeSelectsPackBitsWhenTheSettingsSayFive) {
  std::string settings = testing::ReadText(folder.File("DEF_ZAVO.CNF"));
  const auto at = settings.find("TIFM , 0");
  ASSERT_NE(at, std::string::npos);
  settings.replace(at, 8, "TIFM , 5");
  testing::WriteText(folder.File("ZAVO.CNF"), settings);
  StartWriteMode("/TIF");
  EXPECT_EQ(static_cast<Fl_Button&>(WidgetOf(*form.Option2)).value(), 1);
  EXPECT_EQ(static_cast<Fl_Button&>(WidgetOf(*form.Option1)).value(), 0);
  EXPECT_EQ(state.TiffCompression, 1);
  EXPECT_TRUE(WidgetOf(*form.Picture1[kTiffPanel]).active());
  EXPECT_FALSE(WidgetOf(*form.Picture1[kJpegPanel]).visible());
}

TEST_F(FormViewTest, WithoutAFormatEveryPanelRefusesClicks) {
  Start({"/GP=1", "/W", "/ON=" + target, "/FN=" + transfer});
  for (const auto& panel : form.Picture1) EXPECT_FALSE(WidgetOf(*panel).active());
  Click(*window, WidgetOf(*form.Command1));
  Click(*window, WidgetOf(*form.Command2[0]));
  EXPECT_EQ(imgkit.calls, Calls{});
  EXPECT_FALSE(form.unloaded());
}

// --- the quality scroll bar ---

TEST_F(FormViewTest, DraggingTheThumbUpdatesTheDisplayOnlyOnRelease) {
  StartWriteMode("/JPG");
  const int x = ThumbCentre(Bar());
  const int y = Bar().y() + Bar().h() / 2;
  Push(*window, x, y);
  DragTo(*window, x - 20, y);
  DragTo(*window, x - 40, y);
  const int dragged_to = static_cast<int>(Bar().value());
  EXPECT_LT(dragged_to, 75);
  EXPECT_EQ(Display(), " 75");
  EXPECT_EQ(form.JPEG_Q_SC->value(), 75);
  EXPECT_EQ(quality_changes, 0);
  Release(*window, x - 40, y);
  EXPECT_EQ(quality_changes, 1);
  EXPECT_EQ(form.JPEG_Q_SC->value(), dragged_to);
  EXPECT_EQ(Display(), " " + std::to_string(dragged_to));
}

// FLTK delivers motion only once the event queue is empty, so a quick drag
// can reach it as a press and a release alone.
TEST_F(FormViewTest, AReleaseAwayFromThePressMovesTheThumbThere) {
  StartWriteMode("/JPG");
  const int x = ThumbCentre(Bar());
  const int y = Bar().y() + Bar().h() / 2;
  Push(*window, x, y);
  Release(*window, x - 40, y);
  EXPECT_EQ(quality_changes, 1);
  EXPECT_LT(form.JPEG_Q_SC->value(), 75);
  EXPECT_EQ(static_cast<int>(Bar().value()), form.JPEG_Q_SC->value());
}

TEST_F(FormViewTest, ArrowClicksStepByOne) {
  StartWriteMode("/JPG");
  const int y = Bar().y() + Bar().h() / 2;
  ClickAt(*window, Bar().x() + Bar().w() - Bar().h() / 2, y);
  EXPECT_EQ(form.JPEG_Q_SC->value(), 76);
  EXPECT_EQ(Display(), " 76");
  ClickAt(*window, Bar().x() + Bar().h() / 2, y);
  ClickAt(*window, Bar().x() + Bar().h() / 2, y);
  EXPECT_EQ(form.JPEG_Q_SC->value(), 74);
  EXPECT_EQ(quality_changes, 3);
}

TEST_F(FormViewTest, TroughClicksAndKeysStepTheFocusedBar) {
  StartWriteMode("/JPG");
  const int y = Bar().y() + Bar().h() / 2;
  ClickAt(*window, Bar().x() + Bar().w() - Bar().h() - 2, y);  // right of the thumb
  EXPECT_EQ(form.JPEG_Q_SC->value(), 76);
  ASSERT_TRUE(Bar().take_focus());
  Key(*window, FL_Left, "");
  Key(*window, FL_Left, "");
  EXPECT_EQ(form.JPEG_Q_SC->value(), 74);
  EXPECT_EQ(Display(), " 74");
  Key(*window, FL_End, "");
  EXPECT_EQ(static_cast<int>(Bar().value()), 100);
  Key(*window, FL_Page_Up, "");
  EXPECT_EQ(Display(), " 99");
  EXPECT_EQ(Fl::focus(), &Bar());
}

// --- buttons and options ---

TEST_F(FormViewTest, SaveExportsWithTheQualityAndTheGrayscaleTick) {
  StartWriteMode("/JPG");
  Click(*window, WidgetOf(*form.Command1));
  Click(*window, WidgetOf(*form.JPEG_BW));
  EXPECT_EQ(form.JPEG_BW->value(), 1);
  Click(*window, WidgetOf(*form.Command1));
  const std::string load = "FileLoad(" + transfer + ", Plumio File ADD_In, 読み込み中)";
  EXPECT_EQ(imgkit.calls,
            (Calls{load + " -> 1", "JpegFileSave(" + target + ", 1, , , 75, 0)", "MemFree(1)",
                   load + " -> 2", "JpegFileSave(" + target + ", 2, , , 75, 1)", "MemFree(2)"}));
  EXPECT_TRUE(window->shown());
}

TEST_F(FormViewTest, PackBitsOptionThenSaveExportsWithModeFive) {
  StartWriteMode("/TIF");
  Click(*window, WidgetOf(*form.Option2));
  EXPECT_EQ(state.TiffCompression, 1);
  EXPECT_EQ(static_cast<Fl_Button&>(WidgetOf(*form.Option1)).value(), 0);
  Click(*window, WidgetOf(*form.Command4));
  ASSERT_EQ(imgkit.calls.size(), 3u);
  EXPECT_EQ(imgkit.calls[1], "TiffFileSave(" + target + ", 1, , 圧縮保存中, 5)");
}

TEST_F(FormViewTest, ArrowKeysSelectTheNeighbouringOptionAndEnterPressesTheButton) {
  StartWriteMode("/TIF");
  ASSERT_TRUE(WidgetOf(*form.Option1).take_focus());
  Key(*window, FL_Right, "");
  EXPECT_EQ(state.TiffCompression, 1);
  EXPECT_EQ(static_cast<Fl_Button&>(WidgetOf(*form.Option2)).value(), 1);
  EXPECT_EQ(Fl::focus(), &WidgetOf(*form.Option2));
  ASSERT_TRUE(WidgetOf(*form.Command4).take_focus());
  Key(*window, FL_Enter, "\r");
  ASSERT_EQ(imgkit.calls.size(), 3u);
  EXPECT_EQ(imgkit.calls[1], "TiffFileSave(" + target + ", 1, , 圧縮保存中, 5)");
}

// --- the window manager ---

TEST_F(FormViewTest, AReportedFrameMovesTheWindowToBeCentredByItsOuterSize) {
  StartWriteMode("/JPG");
  const long extents[] = {2, 10, 24, 4};  // left, right, top, bottom
  XChangeProperty(fl_display, fl_xid(window), XInternAtom(fl_display, "_NET_FRAME_EXTENTS", False),
                  XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(extents),
                  4);
  XFlush(fl_display);
  WaitFor([this] { return window->y() != 360; });
  // The outer 276 x 76 pixels of the creation size centred on 1024 x 768;
  // the client area lies inside the frame.
  EXPECT_EQ(window->x(), 374 + 2);
  EXPECT_EQ(window->y(), 346 + 24);
  EXPECT_EQ(window->h(), 181);
}

// --- closing ---

TEST_F(FormViewTest, BackButtonUnloadsStoresTheSettingsAndEndsTheLoop) {
  StartWriteMode("/JPG");
  Click(*window, WidgetOf(*form.Command2[0]));
  EXPECT_TRUE(form.unloaded());
  EXPECT_FALSE(window->shown());
  view->RunUntilClosed();  // returns at once
  EXPECT_NE(testing::ReadText(folder.File("ZAVO.CNF")).find("JPGQ ,  75 "), std::string::npos);
}

TEST_F(FormViewTest, ClosingThroughTheFrameUnloadsAsTheBackButtonDoes) {
  StartWriteMode("/TIF");
  SendDeleteWindow(*window);
  WaitFor([this] { return form.unloaded(); });
  EXPECT_TRUE(form.unloaded());
  EXPECT_FALSE(window->shown());
}

TEST_F(FormViewTest, ClosingThroughTheFrameWorksWithEveryPanelDisabled) {
  Start({"/GP=1", "/W"});
  SendDeleteWindow(*window);
  WaitFor([this] { return form.unloaded(); });
  EXPECT_TRUE(form.unloaded());
}

TEST_F(FormViewTest, EscapeDoesNotCloseTheWindow) {
  StartWriteMode("/JPG");
  WidgetOf(*form.Command1).take_focus();
  Key(*window, FL_Escape, "\033");
  EXPECT_FALSE(form.unloaded());
  EXPECT_TRUE(window->shown());
}

// --- keyboard focus ---

TEST_F(FormViewTest, TabVisitsTheEnabledControlsInTabIndexOrder) {
  StartWriteMode("/JPG");
  Fl::focus(nullptr);
  const std::vector<const Control*> expected{form.Command2[0].get(), form.Command1.get(),
                                             form.JPEG_BW.get(), form.JPEG_Q_SC.get(),
                                             form.Command2[0].get()};
  for (const Control* control : expected) {
    Key(*window, FL_Tab, "\t");
    EXPECT_EQ(Fl::focus(), &WidgetOf(*control)) << control->name();
  }
  Key(*window, FL_Tab, "\t", FL_SHIFT);
  EXPECT_EQ(Fl::focus(), &WidgetOf(*form.JPEG_Q_SC));
}

TEST_F(FormViewTest, TabStopsOnlyAtTheSelectedOption) {
  StartWriteMode("/TIF");
  Fl::focus(nullptr);
  const std::vector<const Control*> expected{form.Command2[2].get(), form.Command4.get(),
                                             form.Option1.get(), form.Command2[2].get()};
  for (const Control* control : expected) {
    Key(*window, FL_Tab, "\t");
    EXPECT_EQ(Fl::focus(), &WidgetOf(*control)) << control->name();
  }
}

// --- message boxes ---

struct SeenBox {
  std::string title;
  std::string xclass;
  std::string text;
};

void ReadAndAnswerBox(void* seen_box) {
  auto& seen = *static_cast<SeenBox*>(seen_box);
  Fl_Window* box = Fl::modal();
  if (box == nullptr) {
    Fl::repeat_timeout(0.1, &ReadAndAnswerBox, seen_box);
    return;
  }
  seen.title = LabelOf(*box);
  seen.xclass = box->xclass();
  for (int i = 0; i < box->children(); ++i) {
    const std::string label = LabelOf(*box->child(i));
    if (label.find("first") != std::string::npos) seen.text = label;
  }
  Key(*box, FL_Enter, "\r");
}

TEST(FltkMessageBoxes, ShowsTitleAndTextWithCarriageReturnsAsLineBreaks) {
  if (!DisplayNamed()) GTEST_SKIP() << "needs an X display (run under Xvfb)";
  ASSERT_TRUE(HaveDisplay()) << "cannot open the display " << std::getenv("DISPLAY");
  SeenBox seen;
  Fl::add_timeout(0.2, &ReadAndAnswerBox, &seen);
  FltkMessageBoxes().Show("first\r\rsecond @ line", kMbExclamation, "Plumio TWAIN(32Bit) ADD_IN");
  EXPECT_EQ(seen.title, "Plumio TWAIN(32Bit) ADD_IN");
  EXPECT_EQ(seen.xclass, "zavo");
  EXPECT_EQ(seen.text, "first\n\nsecond @ line");
}

}  // namespace
}  // namespace zavo::ui
