#include "ui/fltk/widgets.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "ui/form1.h"

namespace zavo::ui::fltk {

const DisplayScale& ScaleOfDisplay() {
  static const DisplayScale scale = DisplayScale::FromXftDpi(XGetDefault(fl_display, "Xft", "dpi"));
  return scale;
}

namespace {

void DrawPlainLabel(const Fl_Label* label, int x, int y, int w, int h, Fl_Align align) {
  fl_font(label->font, label->size);
  fl_color(label->color);
  fl_draw(label->value, x, y, w, h, align, label->image, 0);
}

void MeasurePlainLabel(const Fl_Label* label, int& w, int& h) {
  fl_font(label->font, label->size);
  fl_measure(label->value, w, h, 0);
}

}  // namespace

Fl_Labeltype PlainLabel() {
  // The first free slot of FLTK's label type table; nothing else in the
  // program defines label types.
  static const Fl_Labeltype type = [] {
    Fl::set_labeltype(FL_FREE_LABELTYPE, DrawPlainLabel, MeasurePlainLabel);
    return FL_FREE_LABELTYPE;
  }();
  return type;
}

// --- TabPassingGroup, CaptionFrame ---

TabPassingGroup::TabPassingGroup(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {
  end();
  resizable(nullptr);  // moving a container moves its contents, never resizes them
  clip_children(1);    // a control is clipped by its container
}

int TabPassingGroup::handle(int event) {
  if (event == FL_KEYBOARD && Fl::event_key() == FL_Tab) return 0;
  return Fl_Group::handle(event);
}

void CaptionFrame::draw() {
  if (damage() & ~FL_DAMAGE_CHILD) DrawFrameAndCaption();
  draw_children();
}

void CaptionFrame::DrawFrameAndCaption() {
  fl_font(labelfont(), labelsize());
  const int line = fl_height();
  draw_box(FL_FLAT_BOX, color());
  draw_box(FL_ENGRAVED_FRAME, x(), y() + line / 2, w(), h() - line / 2, color());
  const char* caption = label();
  if (caption == nullptr || *caption == '\0') return;
  int text_w = 0;
  int text_h = 0;
  fl_measure(caption, text_w, text_h, 0);
  // Two thirds of the text height in from the edge, at any resolution.
  const int inset = (2 * labelsize() + 1) / 3;
  const int gap = inset / 4;
  text_w = std::min(text_w, w() - 2 * inset);
  fl_color(color());
  fl_rectf(x() + inset - gap, y(), text_w + 2 * gap, line);
  fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
  fl_push_clip(x() + inset, y(), text_w, line);
  fl_draw(caption, x() + inset, y(), text_w, line, FL_ALIGN_LEFT | FL_ALIGN_TOP, nullptr, 0);
  fl_pop_clip();
}

// --- LineWidget ---

LineWidget::LineWidget(int x, int y, int w, int h, int x1, int y1, int x2, int y2)
    : Fl_Widget(x, y, w, h), dx1_(x1 - x), dy1_(y1 - y), dx2_(x2 - x), dy2_(y2 - y) {}

void LineWidget::draw() {
  fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
  fl_line(x() + dx1_, y() + dy1_, x() + dx2_, y() + dy2_);
}

// --- TriStateCheck ---

TriStateCheck::TriStateCheck(int x, int y, int w, int h) : ModelKeys(x, y, w, h) {}

void TriStateCheck::tri(int value) {
  tri_ = value;
  Fl_Check_Button::value(value != 0 ? 1 : 0);
  // Greyed: the tick stays, drawn grey, as Windows shows a greyed check box.
  selection_color(value == 2 ? FL_DARK3 : FL_FOREGROUND_COLOR);
  redraw();
}

// --- QualityScrollbar ---

QualityScrollbar::QualityScrollbar(int x, int y, int w, int h, ScrollBar& model,
                                   std::function<void()> after_user)
    : ModelKeys(x, y, w, h), model_(model), after_user_(std::move(after_user)) {
  type(FL_HORIZONTAL);
  bounds(model.min, model.max);
  step(1);
  linesize(model.small_change);
  // FLTK has no page-step setter: the trough step is derived from the thumb
  // size, and the thumb is as wide as one page is of the whole range.
  const double page = model.large_change;
  slider_size(page / (model.max - model.min + page));
  when(FL_WHEN_CHANGED);
  callback(&QualityScrollbar::Changed, this);
}

QualityScrollbar::Part QualityScrollbar::PartAt(int event_x) const {
  // The same geometry as Fl_Scrollbar::handle: square arrow boxes at both
  // ends, the thumb at least half the height wide.
  int left = x();
  int width = w();
  const int height = h();
  if (width >= 3 * height) {
    left += height;
    width -= 2 * height;
  }
  const int rel = event_x - left;
  if (rel < 0) return Part::LeftArrow;
  if (rel >= width) return Part::RightArrow;
  const int thumb = std::max(static_cast<int>(slider_size() * width + .5), height / 2 + 1);
  const double range = maximum() - minimum();
  const double fraction = range != 0 ? (value() - minimum()) / range : 0.5;
  int thumb_left = static_cast<int>(fraction * (width - thumb) + .5);
  if (fraction >= 1.0) thumb_left = width - thumb;
  if (fraction <= 0.0) thumb_left = 0;
  if (Fl::event_button() == FL_MIDDLE_MOUSE) return Part::Thumb;
  if (rel < thumb_left) return Part::LeftTrough;
  if (rel >= thumb_left + thumb) return Part::RightTrough;
  return Part::Thumb;
}

int QualityScrollbar::handle(int event) {
  return Guarded(1, [this, event] { return HandleEvent(event); });
}

int QualityScrollbar::HandleEvent(int event) {
  switch (event) {
    case FL_FOCUS:
    case FL_UNFOCUS:
      // Fl_Scrollbar refuses the focus; Windows makes it a tab stop.
      if (!Fl::visible_focus()) return 0;
      redraw();
      return 1;
    case FL_PUSH:
      if (Fl::visible_focus()) take_focus();
      pressed_ = PartAt(Fl::event_x());
      first_step_ = true;
      return Fl_Scrollbar::handle(event);
    case FL_RELEASE:
      return HandleRelease();
    case FL_KEYBOARD:
      // Keys step through the model only; FLTK's own steps would bypass it.
      return on_key && Fl::focus() == this && on_key(Fl::event_key()) ? 1 : 0;
    case FL_SHORTCUT:
      // Keys reach the scroll bar only while it has the focus.
      return 0;
    default:
      return Fl_Scrollbar::handle(event);
  }
}

int QualityScrollbar::HandleRelease() {
  // FLTK holds motion back until the event queue is empty, so a press, a
  // quick drag and the release can arrive with no drag in between: the
  // thumb first follows the pointer to where it was let go.
  if (pressed_ == Part::Thumb) Fl_Scrollbar::handle(FL_DRAG);
  const int used = Fl_Scrollbar::handle(FL_RELEASE);
  pressed_ = Part::Nothing;
  model_.UserRelease();
  after_user_();
  return used;
}

void QualityScrollbar::Changed(Fl_Widget* /*widget*/, void* self) {
  Guarded([self] { static_cast<QualityScrollbar*>(self)->ForwardChange(); });
}

void QualityScrollbar::ForwardChange() {
  // A held trough click repeats only until the thumb reaches the pointer.
  const bool pointer_still_there = first_step_ || PartAt(Fl::event_x()) == pressed_;
  first_step_ = false;
  switch (pressed_) {
    case Part::LeftArrow:
      model_.UserArrow(-1);
      break;
    case Part::RightArrow:
      model_.UserArrow(+1);
      break;
    case Part::LeftTrough:
    case Part::RightTrough:
      if (pointer_still_there) model_.UserTrough(pressed_ == Part::LeftTrough ? -1 : +1);
      break;
    case Part::Thumb:
      model_.UserDrag(static_cast<int>(value()));
      break;
    case Part::Nothing:
      break;
  }
  after_user_();
}

void QualityScrollbar::draw() {
  Fl_Scrollbar::draw();
  if (Fl::focus() == this && Fl::visible_focus()) {
    const int arrow = w() >= 3 * h() ? h() : 0;
    draw_focus(FL_FLAT_BOX, x() + arrow, y(), w() - 2 * arrow, h());
  }
}

// --- FormWindow ---

FormWindow::FormWindow(int x, int y, int w, int h) : Fl_Double_Window(x, y, w, h) {
  end();
  resizable(nullptr);  // growing the window must not move or stretch the controls
}

int FormWindow::handle(int event) {
  const bool key = event == FL_KEYBOARD || event == FL_SHORTCUT;
  if (key && Fl::event_key() == FL_Tab && on_tab) {
    Guarded([this] { on_tab((Fl::event_state() & FL_SHIFT) != 0); });
    return 1;
  }
  return Fl_Double_Window::handle(event);
}

void FormWindow::draw() {
  Fl_Double_Window::draw();
  drawn_ = true;
}

// --- the icon ---

namespace {

// The 16 colours of the classic VGA palette, by index.
using Rgb = std::array<uint8_t, 3>;
constexpr std::array<Rgb, 16> kPalette{{{0, 0, 0},
                                        {128, 0, 0},
                                        {0, 128, 0},
                                        {128, 128, 0},
                                        {0, 0, 128},
                                        {128, 0, 128},
                                        {0, 128, 128},
                                        {192, 192, 192},
                                        {128, 128, 128},
                                        {255, 0, 0},
                                        {0, 255, 0},
                                        {255, 255, 0},
                                        {0, 0, 255},
                                        {255, 0, 255},
                                        {0, 255, 255},
                                        {255, 255, 255}}};
enum Colour {
  kBlack = 0,
  kGreen = 2,
  kNavy = 4,
  kSilver = 7,
  kGrey = 8,
  kYellow = 11,
  kAqua = 14,
  kWhite = 15,
  kLime = 10,
  kTransparent = -1
};

constexpr int kIconSize = 32;

// A 32 x 32 canvas of palette indexes, -1 for transparent.
class IconCanvas {
 public:
  IconCanvas() { cells_.fill(kTransparent); }
  void Set(int x, int y, int colour) { cells_[y * kIconSize + x] = colour; }
  void Fill(int x0, int y0, int x1, int y1, int colour) {
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) Set(x, y, colour);
    }
  }
  void Outline(int x0, int y0, int x1, int y1, int colour) {
    Fill(x0, y0, x1, y0, colour);
    Fill(x0, y1, x1, y1, colour);
    Fill(x0, y0, x0, y1, colour);
    Fill(x1, y0, x1, y1, colour);
  }
  std::vector<uint8_t> ToRgba() const {
    std::vector<uint8_t> rgba;
    rgba.reserve(kIconSize * kIconSize * 4);
    for (int colour : cells_) {
      const Rgb rgb = colour < 0 ? Rgb{0, 0, 0} : kPalette[colour];
      rgba.insert(rgba.end(), rgb.begin(), rgb.end());
      rgba.push_back(colour < 0 ? 0 : 255);
    }
    return rgba;
  }

 private:
  std::array<int, kIconSize * kIconSize> cells_{};
};

// A sheet of paper with its top right corner folded over.
void DrawSheet(IconCanvas& c) {
  c.Fill(4, 1, 26, 30, kWhite);
  c.Outline(4, 1, 26, 30, kBlack);
  for (int i = 0; i < 7; ++i) {
    c.Fill(21 + i, 1 + i, 26, 1 + i, kTransparent);  // the cut-off corner
    c.Set(20 + i, 1 + i, kBlack);                    // the fold's diagonal
    c.Fill(20, 1 + i, 20 + i - 1, 1 + i, kSilver);   // the folded-over flap
  }
  c.Fill(20, 1, 20, 7, kBlack);
  c.Fill(20, 7, 26, 7, kBlack);
}

// A landscape: sky, sun, a green hill, in a navy frame; then two text lines.
void DrawPicture(IconCanvas& c) {
  c.Fill(7, 10, 23, 22, kAqua);
  for (int x = 7; x <= 23; ++x) {
    const int top = 17 + std::abs(x - 13) / 2;  // the hill peaks left of the centre
    c.Fill(x, std::min(top, 22), x, 22, x % 5 == 0 ? kGreen : kLime);
  }
  c.Fill(18, 12, 20, 14, kYellow);
  c.Set(19, 11, kYellow);
  c.Set(19, 15, kYellow);
  c.Set(17, 13, kYellow);
  c.Set(21, 13, kYellow);
  c.Outline(6, 9, 24, 23, kNavy);
  c.Fill(7, 26, 23, 26, kGrey);
  c.Fill(7, 28, 18, 28, kGrey);
}

}  // namespace

std::unique_ptr<Fl_RGB_Image> MakeAddInIcon() {
  IconCanvas canvas;
  DrawSheet(canvas);
  DrawPicture(canvas);
  const std::vector<uint8_t> rgba = canvas.ToRgba();
  // Fl_RGB_Image keeps the pointer it is given; copy() makes it own its pixels.
  Fl_RGB_Image borrowed(rgba.data(), kIconSize, kIconSize, 4);
  return std::unique_ptr<Fl_RGB_Image>(static_cast<Fl_RGB_Image*>(borrowed.copy()));
}

}  // namespace zavo::ui::fltk
