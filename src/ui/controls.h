// The controls of the save-parameters window as plain objects: geometry in
// twips, captions, values and the rules they obey. The toolkit layer only
// draws them and forwards the user's actions to the User* methods.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace zavo::ui {

enum class ControlKind {
  Label,
  Image,
  Panel,
  Frame,
  ScrollBar,
  CheckBox,
  OptionButton,
  Button,
  Line
};
enum class TextAlign { Left, Center, Right };
// The keys a focused control answers.
enum class Key { Left, Right, Up, Down, PageUp, PageDown, Home, End, Space, Enter };

class Control {
 public:
  Control(std::string name, ControlKind kind, Control* container, int left, int top, int width,
          int height, int tab_index);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& name() const { return name_; }
  ControlKind kind() const { return kind_; }
  Control* container() const { return container_; }
  int tab_index() const { return tab_index_; }  // -1: no tab index

  // Position relative to the container's client area; size; all in twips.
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  // Position in the window's client area: the offsets of all containers add up.
  int window_left() const;
  int window_top() const;

  std::string caption;
  TextAlign align = TextAlign::Left;
  int font_points = 9;
  bool border = false;
  bool enabled = true;
  // A caption too long for the box shows its end after an ellipsis, and the
  // whole of it as a tooltip: a path keeps its file name in sight.
  bool elide_start = false;

  // Input reaches a control only when it and every container are enabled.
  bool AcceptsInput() const;
  bool TakesFocus() const;

 private:
  std::string name_;
  ControlKind kind_;
  Control* container_;
  int tab_index_;
};

// A 16-bit value within [min, max]; changes run on_change, except while the
// thumb is dragged, when one change is reported on release.
class ScrollBar : public Control {
 public:
  using Control::Control;

  int16_t min = 0;
  int16_t max = 100;
  int16_t small_change = 1;
  int16_t large_change = 1;
  std::function<void()> on_change;

  int16_t value() const { return value_; }
  // Error(InvalidValue) outside [min, max]; the value stays.
  Result<void> SetValue(int value);
  // Sets the creation value without running on_change.
  void InitValue(int16_t value) { value_ = value; }

  void UserArrow(int direction);   // -1 left arrow, +1 right arrow
  void UserTrough(int direction);  // -1 left of the thumb, +1 right of it
  void UserDrag(int value);        // the thumb moves; no change reported
  void UserRelease();              // the thumb is let go
  // Arrows step as the arrow buttons do, Page Up and Page Down as the
  // trough does, Home and End go to min and max. False: not a key for it.
  bool UserKey(Key key);
  bool dragging() const { return dragging_; }
  int16_t shown_value() const { return dragging_ ? drag_value_ : value_; }

 private:
  void Step(int amount);
  // Takes a value within [min, max] and reports a change.
  void Change(int16_t value);
  int16_t value_ = 0;
  bool dragging_ = false;
  int16_t drag_value_ = 0;
};

// 0 not ticked, 1 ticked, 2 greyed (set only by the program).
class CheckBox : public Control {
 public:
  using Control::Control;
  int16_t value() const { return value_; }
  Result<void> SetValue(int value);  // Error(InvalidValue) unless 0, 1 or 2.
  void UserClick();                  // 0 <-> 1; a greyed box becomes 0

 private:
  int16_t value_ = 0;
};

// One of a group in the same container: selecting one deselects the others,
// and every selection, by the user or the program, runs on_click.
class OptionButton : public Control {
 public:
  using Control::Control;
  std::function<void()> on_click;
  std::vector<OptionButton*> group;

  bool selected() const { return selected_; }
  void SetSelected(bool selected);
  void UserClick();
  // The next button of the group that takes input, in group order and
  // round the end (-1: the previous one); this one when there is none.
  OptionButton* Neighbour(int direction);

 private:
  bool selected_ = false;
};

class Button : public Control {
 public:
  using Control::Control;
  std::function<void()> on_click;
  void UserClick();
};

// A straight line in its container, from (x1, y1) to (x2, y2), twips.
class Line : public Control {
 public:
  Line(std::string name, Control* container, int x1, int y1, int x2, int y2);
  int x1, y1, x2, y2;
};

}  // namespace zavo::ui
