// Form1 realised in FLTK. The widgets are built once from the model; after
// every user action they forward, and whenever the model asks for a repaint,
// everything the model holds (geometry, captions, values, enabled, stacking)
// is copied back onto them. No rule of the window lives here.
#include "ui/fltk/view.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Round_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "ui/fltk/guard.h"
#include "ui/fltk/widgets.h"
#include "ui/text_fit.h"

namespace zavo::ui {
namespace {

constexpr int kPanelsExtent = 8192;  // pixels

PixelRect RectOf(const Fl_Widget& widget) {
  return {widget.x(), widget.y(), widget.w(), widget.h()};
}

// Labels, the image and the line lie on their container's surface, beneath
// the other controls; those follow in tab order, so FLTK's initial focus
// lands where Windows puts it.
bool IsLightweight(const Control& control) {
  const ControlKind kind = control.kind();
  return kind == ControlKind::Label || kind == ControlKind::Image || kind == ControlKind::Line;
}

bool BuildsEarlier(const Control* a, const Control* b) {
  if (IsLightweight(*a) != IsLightweight(*b)) return IsLightweight(*a);
  if (IsLightweight(*a)) return false;  // stable: keep the model's order
  return a->tab_index() < b->tab_index();
}

Fl_Align LabelAlign(TextAlign align) {
  // Windows labels start their text at the top; text beyond the box is cut.
  Fl_Align result = FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_CLIP;
  if (align == TextAlign::Left) result |= FL_ALIGN_LEFT;
  if (align == TextAlign::Right) result |= FL_ALIGN_RIGHT;
  return result;
}

bool Covers(const Control& front, const Control& other) {
  return front.left <= other.left && front.top <= other.top &&
         front.left + front.width >= other.left + other.width &&
         front.top + front.height >= other.top + other.height;
}

std::string LabelOf(const Fl_Widget& widget) {
  return widget.label() != nullptr ? widget.label() : "";
}

// The width a left-aligned label has for its text: FLTK draws it 3 pixels
// in from either side of the box's inside.
double TextWidthIn(const Fl_Widget& widget) { return widget.w() - Fl::box_dw(widget.box()) - 6; }

double LabelTextWidth(const Fl_Widget& widget, std::string_view text) {
  fl_font(widget.labelfont(), widget.labelsize());
  return fl_width(text.data(), static_cast<int>(text.size()));
}

// The frame the window manager drew round `xid` as it reports it in
// _NET_FRAME_EXTENTS (left, right, top, bottom; pixels); none while it
// reports nothing or something no frame can be.
Atom FrameExtentsAtom() {
  static const Atom atom = XInternAtom(fl_display, "_NET_FRAME_EXTENTS", False);
  return atom;
}

std::optional<std::array<int, 4>> ReportedFrame(Window xid) {
  const Atom name = FrameExtentsAtom();
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(fl_display, xid, name, 0, 4, False, XA_CARDINAL, &type, &format, &count,
                         &remaining, &data) != Success) {
    return std::nullopt;
  }
  std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
  if (data == nullptr || type != XA_CARDINAL || format != 32 || count != 4) return std::nullopt;
  constexpr long kWidestFrame = 1000;  // pixels
  std::array<int, 4> extents{};
  for (size_t i = 0; i < extents.size(); ++i) {
    // Xlib hands 32-bit items over as longs.
    const long value = reinterpret_cast<const long*>(data)[i];
    if (value < 0 || value > kWidestFrame) return std::nullopt;
    extents[i] = static_cast<int>(value);
  }
  return extents;
}

std::optional<Key> KeyOf(int fl_key) {
  switch (fl_key) {
    case FL_Left:
      return Key::Left;
    case FL_Right:
      return Key::Right;
    case FL_Up:
      return Key::Up;
    case FL_Down:
      return Key::Down;
    case FL_Page_Up:
      return Key::PageUp;
    case FL_Page_Down:
      return Key::PageDown;
    case FL_Home:
      return Key::Home;
    case FL_End:
      return Key::End;
    case ' ':
      return Key::Space;
    case FL_Enter:
    case FL_KP_Enter:
      return Key::Enter;
    default:
      return std::nullopt;
  }
}

// What the user does to a window, as opposed to what the system tells it.
bool IsUserInput(int event) {
  switch (event) {
    case FL_PUSH:
    case FL_RELEASE:
    case FL_DRAG:
    case FL_MOUSEWHEEL:
    case FL_KEYBOARD:
    case FL_KEYUP:
    case FL_SHORTCUT:
    case FL_CLOSE:
    case FL_PASTE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_RELEASE:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct FltkFormView::Widgets {
  explicit Widgets(Form1& model) : form(model) {}

  Form1& form;
  std::unique_ptr<Fl_RGB_Image> icon;  // outlive the window, which shows them
  std::unique_ptr<Fl_Image> scaled_icon;
  std::unique_ptr<fltk::FormWindow> window;
  Fl_Group* panels = nullptr;   // the three panels only, so raising one reorders only them
  Fl_Font font = FL_HELVETICA;  // the face of every caption it shows
  std::map<const Control*, std::string> applied_captions;
  std::map<const Control*, Fl_Widget*> widget_of;
  std::map<const Fl_Widget*, Control*> control_of;
  PixelRect applied_window{-1, -1, -1, -1};

  void Build();
  Fl_Widget* Create(Control& control);
  Fl_Widget* CreateLabel(const Control& control, const PixelRect& r);
  Fl_Widget* CreateLine(const Line& line, const PixelRect& r);
  Fl_Widget* CreateClickable(Control& control, const PixelRect& r);
  void Attach(Control& control, Fl_Widget* widget);

  void Sync();
  bool SyncWindow();
  bool SyncControl(const Control& control);
  bool SyncCaption(const Control& control, Fl_Widget& widget);
  bool SyncValue(const Control& control, Fl_Widget& widget);
  bool SyncPanels();

  void MoveFocus(bool backwards);
  bool OnKey(Control& control, int fl_key);

  bool frame_adopted = false;
  void WatchFrame();
  void AdoptFrameIfReported();
  static int OnSystemEvent(void* event, void* self);
  static void OnClick(Fl_Widget* widget, void* self);
  void Click(Fl_Widget* widget);
  static void OnWindowCallback(Fl_Widget* widget, void* self);

  // The one view whose window refuses input while its model is busy.
  static Widgets* dispatching;
  static int DispatchUnlessBusy(int event, Fl_Window* target);
};

FltkFormView::Widgets* FltkFormView::Widgets::dispatching = nullptr;

// Keys go straight to the focused widget and a close to the window's
// callback, past the window itself: only the dispatch sees every event.
int FltkFormView::Widgets::DispatchUnlessBusy(int event, Fl_Window* target) {
  if (dispatching != nullptr && target == dispatching->window.get() && dispatching->form.busy() &&
      IsUserInput(event)) {
    return 0;
  }
  return Fl::handle_(event, target);
}

void FltkFormView::Widgets::Build() {
  icon = fltk::MakeAddInIcon();
  window = std::make_unique<fltk::FormWindow>(0, 0, 1, 1);
  window->xclass("zavo");
  window->icon(icon.get());
  window->callback(&Widgets::OnWindowCallback, this);
  window->on_tab = [this](bool backwards) { MoveFocus(backwards); };
  Fl_Group::current(nullptr);
  // FLTK offers a click only to groups that contain it: this one spans any
  // place a panel can be, and draws nothing itself.
  panels = new fltk::TabPassingGroup(0, 0, kPanelsExtent, kPanelsExtent);
  panels->clip_children(0);
  std::vector<std::string> captions;
  for (const Control* control : form.controls()) captions.push_back(control->caption);
  font = fltk::FontForWindow(captions);
  std::vector<Control*> order = form.controls();
  std::stable_sort(order.begin(), order.end(), BuildsEarlier);
  for (Control* control : order) widget_of[control] = Create(*control);
  for (Control* control : order) Attach(*control, widget_of[control]);
  window->add(panels);
}

// The containers are groups; contents are added by Attach, in build order.
Fl_Widget* FltkFormView::Widgets::Create(Control& control) {
  Fl_Group::current(nullptr);
  const PixelRect r = form.PixelsOf(control);
  Fl_Widget* widget = nullptr;
  switch (control.kind()) {
    case ControlKind::Label:
      widget = CreateLabel(control, r);
      break;
    case ControlKind::Image:
      widget = new Fl_Box(r.x, r.y, r.w, r.h);
      // At a higher resolution the icon grows with its box, pixel by pixel.
      scaled_icon.reset(icon->copy(std::max(icon->w(), r.w), std::max(icon->h(), r.h)));
      widget->image(scaled_icon.get());
      widget->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT | FL_ALIGN_CLIP);
      break;
    case ControlKind::Panel:
      widget = new fltk::TabPassingGroup(r.x, r.y, r.w, r.h);
      widget->box(FL_FLAT_BOX);  // opaque, so the panel in front hides those behind
      break;
    case ControlKind::Frame:
      widget = new fltk::CaptionFrame(r.x, r.y, r.w, r.h);
      widget->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT);  // the frame draws its own caption
      break;
    case ControlKind::Line:
      widget = CreateLine(static_cast<const Line&>(control), r);
      break;
    default:
      widget = CreateClickable(control, r);
      break;
  }
  Fl_Group::current(nullptr);
  widget->labelsize(form.FontPixelsOf(control));
  if (control.kind() != ControlKind::Image) widget->labeltype(fltk::PlainLabel());
  control_of[widget] = &control;
  return widget;
}

Fl_Widget* FltkFormView::Widgets::CreateLabel(const Control& control, const PixelRect& r) {
  auto* label = new Fl_Box(r.x, r.y, r.w, r.h);
  label->box(control.border ? FL_THIN_DOWN_BOX : FL_NO_BOX);
  label->align(LabelAlign(control.align));
  return label;
}

Fl_Widget* FltkFormView::Widgets::CreateLine(const Line& line, const PixelRect& r) {
  const int x = line.container()->window_left();
  const int y = line.container()->window_top();
  const DisplayScale& scale = form.scale;
  return new fltk::LineWidget(r.x, r.y, r.w, r.h, scale.Pixels(x + line.x1),
                              scale.Pixels(y + line.y1), scale.Pixels(x + line.x2),
                              scale.Pixels(y + line.y2));
}

Fl_Widget* FltkFormView::Widgets::CreateClickable(Control& control, const PixelRect& r) {
  const Fl_Align text = FL_ALIGN_INSIDE | FL_ALIGN_CLIP;
  auto keys_to_model = [this, &control](int key) { return OnKey(control, key); };
  Fl_Widget* widget = nullptr;
  switch (control.kind()) {
    case ControlKind::ScrollBar: {
      auto* bar = new fltk::QualityScrollbar(r.x, r.y, r.w, r.h, static_cast<ScrollBar&>(control),
                                             [this] { Sync(); });
      bar->on_key = keys_to_model;
      return bar;
    }
    case ControlKind::CheckBox: {
      auto* box = new fltk::TriStateCheck(r.x, r.y, r.w, r.h);
      box->on_key = keys_to_model;
      widget = box;
      widget->align(text | FL_ALIGN_LEFT);
      break;
    }
    case ControlKind::OptionButton: {
      auto* option = new fltk::ModelKeys<Fl_Round_Button>(r.x, r.y, r.w, r.h);
      option->on_key = keys_to_model;
      widget = option;
      widget->type(FL_RADIO_BUTTON);
      widget->align(text | FL_ALIGN_LEFT);
      // A click on the selected button is a click too.
      widget->when(FL_WHEN_RELEASE | FL_WHEN_NOT_CHANGED);
      break;
    }
    default: {
      auto* button = new fltk::ModelKeys<Fl_Button>(r.x, r.y, r.w, r.h);
      button->on_key = keys_to_model;
      widget = button;
      widget->align(text);
      break;
    }
  }
  widget->callback(&Widgets::OnClick, this);
  return widget;
}

void FltkFormView::Widgets::Attach(Control& control, Fl_Widget* widget) {
  Fl_Group* parent = window.get();
  if (control.kind() == ControlKind::Panel) {
    parent = panels;
  } else if (control.container() != nullptr) {
    parent = static_cast<Fl_Group*>(widget_of.at(control.container()));
  }
  parent->add(widget);
}

// --- from the model onto the widgets ---

void FltkFormView::Widgets::Sync() {
  bool changed = SyncWindow();
  for (const Control* control : form.controls()) changed |= SyncControl(*control);
  changed |= SyncPanels();
  // FLTK repaints a changed widget alone, over any sibling lying on top of
  // it; one repaint of the whole window keeps the stacking right.
  if (changed) window->redraw();
}

bool FltkFormView::Widgets::SyncWindow() {
  bool changed = false;
  if (LabelOf(*window) != form.caption) {
    window->copy_label(form.caption.c_str());
    changed = true;
  }
  const PixelRect wanted = form.ClientPixels();
  // Compared with what was applied last, not with the window: a window
  // manager may have moved it since, and the model has not asked for that.
  if (wanted != applied_window) {
    window->resize(wanted.x, wanted.y, wanted.w, wanted.h);
    applied_window = wanted;
    changed = true;
  }
  return changed;
}

bool FltkFormView::Widgets::SyncControl(const Control& control) {
  Fl_Widget& widget = *widget_of.at(&control);
  bool changed = false;
  const PixelRect wanted = form.PixelsOf(control);
  if (RectOf(widget) != wanted) {
    widget.resize(wanted.x, wanted.y, wanted.w, wanted.h);  // a group takes its contents along
    changed = true;
  }
  changed |= SyncCaption(control, widget);
  if (control.enabled != (widget.active() != 0)) {
    if (control.enabled) {
      widget.activate();
    } else {
      widget.deactivate();
    }
    changed = true;
  }
  return SyncValue(control, widget) || changed;
}

// A caption the window's face lacks a character of gets a face of its own.
bool FltkFormView::Widgets::SyncCaption(const Control& control, Fl_Widget& widget) {
  if (control.kind() == ControlKind::Image) return false;
  const auto [applied, is_new] = applied_captions.try_emplace(&control, control.caption);
  if (!is_new && applied->second == control.caption) return false;
  applied->second = control.caption;
  const std::string needed = control.elide_start ? control.caption + "…" : control.caption;
  widget.labelfont(fltk::Shows(font, needed) ? font : fltk::FontShowing({needed}));
  if (!control.elide_start) {
    widget.copy_label(control.caption.c_str());
    return true;
  }
  const std::string shown =
      ElideStart(control.caption, TextWidthIn(widget),
                 [&widget](std::string_view text) { return LabelTextWidth(widget, text); });
  widget.copy_label(shown.c_str());
  widget.copy_tooltip(control.caption.empty() ? nullptr : control.caption.c_str());
  return true;
}

bool FltkFormView::Widgets::SyncValue(const Control& control, Fl_Widget& widget) {
  switch (control.kind()) {
    case ControlKind::ScrollBar: {
      auto& bar = static_cast<fltk::QualityScrollbar&>(widget);
      const int value = static_cast<const ScrollBar&>(control).shown_value();
      if (static_cast<int>(bar.value()) == value) return false;
      bar.value(value);
      return true;
    }
    case ControlKind::CheckBox: {
      auto& box = static_cast<fltk::TriStateCheck&>(widget);
      const int value = static_cast<const CheckBox&>(control).value();
      // FLTK toggles the tick itself on a click; the model's value wins.
      if (box.tri() == value && box.value() == (value != 0 ? 1 : 0)) return false;
      box.tri(value);
      return true;
    }
    case ControlKind::OptionButton: {
      auto& button = static_cast<Fl_Button&>(widget);
      const int selected = static_cast<const OptionButton&>(control).selected() ? 1 : 0;
      if (button.value() == selected) return false;
      button.value(selected);
      return true;
    }
    default:
      return false;
  }
}

bool FltkFormView::Widgets::SyncPanels() {
  bool changed = false;
  const std::vector<int>& stack = form.panel_stack();
  for (size_t i = 0; i < stack.size(); ++i) {
    Fl_Widget* panel = widget_of.at(form.Picture1[stack[i]].get());
    if (panels->child(static_cast<int>(i)) != panel) {
      panels->insert(*panel, static_cast<int>(i));
      changed = true;
    }
  }
  // A panel wholly behind the front one is hidden as well: otherwise a
  // repaint of one of its controls would show through the front panel.
  const Control& front = *form.Picture1[form.FrontPanel()];
  for (const auto& picture : form.Picture1) {
    Fl_Widget& panel = *widget_of.at(picture.get());
    const bool hidden = picture.get() != &front && Covers(front, *picture);
    if (hidden == (panel.visible() == 0)) continue;
    if (hidden) {
      panel.hide();
    } else {
      panel.show();
    }
    changed = true;
  }
  return changed;
}

// --- from the widgets to the model ---

void FltkFormView::Widgets::OnClick(Fl_Widget* widget, void* self) {
  fltk::Guarded([widget, self] { static_cast<Widgets*>(self)->Click(widget); });
}

void FltkFormView::Widgets::Click(Fl_Widget* widget) {
  Control& control = *control_of.at(widget);
  switch (control.kind()) {
    case ControlKind::CheckBox:
      static_cast<CheckBox&>(control).UserClick();
      break;
    case ControlKind::OptionButton:
      static_cast<OptionButton&>(control).UserClick();
      break;
    case ControlKind::Button:
      static_cast<Button&>(control).UserClick();
      break;
    default:
      break;
  }
  Sync();
}

// The window's callback runs for a close through the frame (FL_CLOSE) and
// for Escape (FL_SHORTCUT). Only the first closes the window.
void FltkFormView::Widgets::OnWindowCallback(Fl_Widget* /*widget*/, void* self) {
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  fltk::Guarded([self] { static_cast<Widgets*>(self)->form.Unload(); });
}

void FltkFormView::Widgets::MoveFocus(bool backwards) {
  const auto at = control_of.find(Fl::focus());
  form.SetFocus(at != control_of.end() ? at->second : nullptr);
  form.FocusNext(backwards);
  if (form.focus() != nullptr) widget_of.at(form.focus())->take_focus();
}

bool FltkFormView::Widgets::OnKey(Control& control, int fl_key) {
  const std::optional<Key> key = KeyOf(fl_key);
  if (!key || (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) != 0) return false;
  form.SetFocus(&control);
  if (!form.UserKey(*key)) return false;
  if (form.unloaded()) return true;
  Sync();
  if (form.focus() != &control) widget_of.at(form.focus())->take_focus();
  return true;
}

// A window manager reports its frame once it has framed the window, after
// the window was shown, and only then is the outer size known: the first
// report moves the window so that it is centred by its outer size.
void FltkFormView::Widgets::WatchFrame() {
  const Window xid = fl_xid(window.get());
  XWindowAttributes attributes{};
  XGetWindowAttributes(fl_display, xid, &attributes);
  XSelectInput(fl_display, xid, attributes.your_event_mask | PropertyChangeMask);
  Fl::add_system_handler(&Widgets::OnSystemEvent, this);
  AdoptFrameIfReported();
}

void FltkFormView::Widgets::AdoptFrameIfReported() {
  if (frame_adopted || !window->shown()) return;
  const std::optional<std::array<int, 4>> extents = ReportedFrame(fl_xid(window.get()));
  if (!extents) return;
  frame_adopted = true;
  const DisplayScale& scale = form.scale;
  form.AdoptFrame({scale.Twips((*extents)[0]), scale.Twips((*extents)[1]),
                   scale.Twips((*extents)[2]), scale.Twips((*extents)[3])});
}

int FltkFormView::Widgets::OnSystemEvent(void* event, void* self) {
  const auto& x_event = *static_cast<const XEvent*>(event);
  auto& widgets = *static_cast<Widgets*>(self);
  if (x_event.type == PropertyNotify && widgets.window->shown() &&
      x_event.xproperty.window == fl_xid(widgets.window.get()) &&
      x_event.xproperty.atom == FrameExtentsAtom()) {
    fltk::Guarded([&widgets] { widgets.AdoptFrameIfReported(); });
  }
  return 0;  // FLTK sees every event as well
}

// --- FltkFormView ---

FltkFormView::FltkFormView(Form1& form) : form_(form), widgets_(std::make_unique<Widgets>(form)) {
  form_.scale = fltk::ScaleOfDisplay();
  fltk::SetUpFonts();
  widgets_->Build();
  // The model runs these from anywhere, the program's calls included.
  form_.on_repaint = [this] { fltk::Guarded([this] { widgets_->Sync(); }); };
  form_.on_unloaded = [this] {
    widgets_->window->hide();
    Fl::flush();
  };
  widgets_->Sync();
  Widgets::dispatching = widgets_.get();
  Fl::event_dispatch(&Widgets::DispatchUnlessBusy);
}

FltkFormView::~FltkFormView() {
  Fl::event_dispatch(nullptr);
  Widgets::dispatching = nullptr;
  Fl::remove_system_handler(&Widgets::OnSystemEvent);
  form_.on_repaint = nullptr;
  form_.on_unloaded = nullptr;
}

int FltkFormView::ScreenWidthTwips() const { return form_.scale.Twips(Fl::w()); }
int FltkFormView::ScreenHeightTwips() const { return form_.scale.Twips(Fl::h()); }

void FltkFormView::Show() {
  fltk::Guarded([this] {
    widgets_->window->show();
    widgets_->WatchFrame();
    // Wait briefly for the first paint, so a read-mode run shows a drawn
    // window while it converts; a slow display only costs this bound.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!widgets_->window->drawn() && !fltk::FailureKept() &&
           std::chrono::steady_clock::now() < give_up) {
      Fl::wait(0.01);
      Fl::flush();
    }
  });
}

Result<void> FltkFormView::RunUntilClosed() {
  fltk::Guarded([this] {
    while (!fltk::FailureKept() && !form_.unloaded() && widgets_->window->shown()) Fl::wait();
  });
  return fltk::TakeFailure();
}

Fl_Window* FltkFormView::window() const { return widgets_->window.get(); }

Fl_Widget* FltkFormView::WidgetOf(const Control& control) const {
  const auto at = widgets_->widget_of.find(&control);
  return at != widgets_->widget_of.end() ? at->second : nullptr;
}

}  // namespace zavo::ui
