#include "ui/controls.h"

#include <algorithm>

#include "platform/error.h"

namespace zavo::ui {

Control::Control(std::string name, ControlKind kind, Control* container, int left, int top,
                 int width, int height, int tab_index)
    : left(left),
      top(top),
      width(width),
      height(height),
      name_(std::move(name)),
      kind_(kind),
      container_(container),
      tab_index_(tab_index) {}

int Control::window_left() const {
  return left + (container_ != nullptr ? container_->window_left() : 0);
}

int Control::window_top() const {
  return top + (container_ != nullptr ? container_->window_top() : 0);
}

bool Control::AcceptsInput() const {
  for (const Control* c = this; c != nullptr; c = c->container()) {
    if (!c->enabled) return false;
  }
  return true;
}

bool Control::TakesFocus() const {
  switch (kind_) {
    case ControlKind::ScrollBar:
    case ControlKind::CheckBox:
    case ControlKind::Button:
      return AcceptsInput();
    case ControlKind::OptionButton: {
      // Of an option group only the selected button is a tab stop, or the
      // first one while none is selected.
      const auto& option = static_cast<const OptionButton&>(*this);
      if (!AcceptsInput()) return false;
      if (option.selected()) return true;
      return std::none_of(option.group.begin(), option.group.end(),
                          [](const OptionButton* o) { return o->selected(); }) &&
             !option.group.empty() && option.group.front() == &option;
    }
    default:
      return false;
  }
}

Result<void> ScrollBar::SetValue(int value) {
  if (value < min || value > max) {
    return Error(ErrorKind::InvalidValue, name() + ": value " + std::to_string(value) +
                                              " outside " + std::to_string(min) + ".." +
                                              std::to_string(max));
  }
  Change(static_cast<int16_t>(value));
  return {};
}

void ScrollBar::Change(int16_t value) {
  if (value == value_) return;
  value_ = value;
  if (on_change) on_change();
}

void ScrollBar::Step(int amount) {
  if (!AcceptsInput()) return;
  Change(static_cast<int16_t>(std::clamp<int>(value_ + amount, min, max)));
}

void ScrollBar::UserArrow(int direction) { Step(direction * small_change); }
void ScrollBar::UserTrough(int direction) { Step(direction * large_change); }

void ScrollBar::UserDrag(int value) {
  if (!AcceptsInput()) return;
  dragging_ = true;
  drag_value_ = static_cast<int16_t>(std::clamp<int>(value, min, max));
}

void ScrollBar::UserRelease() {
  if (!dragging_) return;
  dragging_ = false;
  Change(drag_value_);
}

bool ScrollBar::UserKey(Key key) {
  switch (key) {
    case Key::Left:
    case Key::Up:
      UserArrow(-1);
      return true;
    case Key::Right:
    case Key::Down:
      UserArrow(+1);
      return true;
    case Key::PageUp:
      UserTrough(-1);
      return true;
    case Key::PageDown:
      UserTrough(+1);
      return true;
    case Key::Home:
      Step(min - value_);
      return true;
    case Key::End:
      Step(max - value_);
      return true;
    default:
      return false;
  }
}

Result<void> CheckBox::SetValue(int value) {
  if (value < 0 || value > 2) {
    return Error(ErrorKind::InvalidValue,
                 name() + ": value " + std::to_string(value) + " is not 0, 1 or 2");
  }
  value_ = static_cast<int16_t>(value);
  return {};
}

void CheckBox::UserClick() {
  if (AcceptsInput()) value_ = value_ == 0 ? 1 : 0;
}

void OptionButton::SetSelected(bool selected) {
  if (!selected) {
    selected_ = false;
    return;
  }
  for (OptionButton* other : group) {
    if (other != this) other->selected_ = false;
  }
  selected_ = true;
  if (on_click) on_click();
}

void OptionButton::UserClick() {
  if (AcceptsInput()) SetSelected(true);
}

OptionButton* OptionButton::Neighbour(int direction) {
  const auto at = std::find(group.begin(), group.end(), this);
  if (at == group.end()) return this;
  const int count = static_cast<int>(group.size());
  const int here = static_cast<int>(at - group.begin());
  for (int step = 1; step < count; ++step) {
    OptionButton* other = group[((here + direction * step) % count + count) % count];
    if (other->AcceptsInput()) return other;
  }
  return this;
}

void Button::UserClick() {
  if (AcceptsInput() && on_click) on_click();
}

Line::Line(std::string name, Control* container, int x1, int y1, int x2, int y2)
    : Control(std::move(name), ControlKind::Line, container, std::min(x1, x2), std::min(y1, y2),
              std::abs(x2 - x1), std::abs(y2 - y1), -1),
      x1(x1),
      y1(y1),
      x2(x2),
      y2(y2) {}

}  // namespace zavo::ui
