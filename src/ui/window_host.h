// The window as start-up needs it; without a display every call is harmless.
#pragma once

namespace zavo {

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual bool interactive() const = 0;  // a display shows the window
  virtual int ScreenWidthTwips() const = 0;
  virtual int ScreenHeightTwips() const = 0;
  virtual void Show() = 0;
};

}  // namespace zavo
