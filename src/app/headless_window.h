// The window where there is no display: never shown, centred on a nominal
// 1024 x 768 screen so its geometry is the same as anywhere else.
#pragma once

#include "app/startup.h"

namespace zavo {

class HeadlessWindow : public WindowHost {
 public:
  bool interactive() const override { return false; }
  int ScreenWidthTwips() const override { return 1024 * 15; }
  int ScreenHeightTwips() const override { return 768 * 15; }
  void Show() override {}
};

}  // namespace zavo
