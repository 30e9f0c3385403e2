// The FLTK widgets the window needs and FLTK 1.3 lacks or gets wrong for
// it: a captioned frame, a line, a tri-state check box, a scroll bar that is
// a tab stop and reports to the model, and the add-in's icon. Private to the
// FLTK layer.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Widget.H>

#include <functional>
#include <memory>

#include "ui/controls.h"
#include "ui/display_scale.h"
#include "ui/fltk/fonts.h"
#include "ui/fltk/guard.h"

namespace zavo::ui::fltk {

// The open display's scale, from its Xft.dpi resource (what desktops set
// for high-resolution screens); read once.
const DisplayScale& ScaleOfDisplay();

// Label type that draws text literally: FLTK's own reads "@..." as a symbol,
// which would garble a target path containing "@".
Fl_Labeltype PlainLabel();

// Keeps Tab out of FLTK's child-order navigation, so the window can move the
// focus in tab-index order instead.
class TabPassingGroup : public Fl_Group {
 public:
  TabPassingGroup(int x, int y, int w, int h);
  int handle(int event) override;
};

// An engraved frame starting half a text line down, its caption over the top
// edge; what Windows calls a frame (group box).
class CaptionFrame : public TabPassingGroup {
 public:
  using TabPassingGroup::TabPassingGroup;
  void draw() override;

 private:
  void DrawFrameAndCaption();
};

// A straight line; the end points are kept relative to the widget, so the
// line moves with its container.
class LineWidget : public Fl_Widget {
 public:
  // End points in window pixels at construction.
  LineWidget(int x, int y, int w, int h, int x1, int y1, int x2, int y2);
  void draw() override;

 private:
  int dx1_, dy1_, dx2_, dy2_;
};

// A control whose keys go to the model first while it has the focus:
// `on_key` gets FLTK's key and says whether the model used it. Keys it does
// not use take FLTK's way (Tab, or arrows moving the focus elsewhere).
template <typename Base>
class ModelKeys : public Base {
 public:
  using Base::Base;
  std::function<bool(int key)> on_key;

  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this && on_key &&
        Guarded(true, [this] { return on_key(Fl::event_key()); })) {
      return 1;
    }
    return Base::handle(event);
  }
};

// A check box showing 0, 1 or 2; 2 is ticked in grey. FLTK's own toggling is
// overwritten by the model's value after every click.
class TriStateCheck : public ModelKeys<Fl_Check_Button> {
 public:
  TriStateCheck(int x, int y, int w, int h);
  int tri() const { return tri_; }
  void tri(int value);

 private:
  int tri_ = 0;
};

// The quality scroll bar. Arrow, trough and thumb keep FLTK's look and
// auto-repeat, but every change goes to the model: the part pressed decides
// between UserArrow, UserTrough and UserDrag, a release ends a drag with
// UserRelease, and the model's value is written back by `after_user`.
class QualityScrollbar : public ModelKeys<Fl_Scrollbar> {
 public:
  QualityScrollbar(int x, int y, int w, int h, ScrollBar& model, std::function<void()> after_user);
  int handle(int event) override;
  void draw() override;

  enum class Part { Nothing, LeftArrow, RightArrow, LeftTrough, RightTrough, Thumb };
  // The part under window x coordinate `event_x`, by FLTK's own geometry.
  Part PartAt(int event_x) const;

 private:
  static void Changed(Fl_Widget* widget, void* self);
  void ForwardChange();
  int HandleEvent(int event);
  int HandleRelease();

  ScrollBar& model_;
  std::function<void()> after_user_;
  Part pressed_ = Part::Nothing;
  bool first_step_ = false;  // the first step of a press always counts
};

// The main window: Tab and Shift+Tab go to `on_tab`; `drawn()` tells when it
// was first painted.
class FormWindow : public Fl_Double_Window {
 public:
  FormWindow(int x, int y, int w, int h);
  int handle(int event) override;
  void draw() override;
  bool drawn() const { return drawn_; }

  std::function<void(bool backwards)> on_tab;

 private:
  bool drawn_ = false;
};

// The add-in's 32 x 32 icon in 16 colours: a picture on a sheet of paper.
std::unique_ptr<Fl_RGB_Image> MakeAddInIcon();

}  // namespace zavo::ui::fltk
