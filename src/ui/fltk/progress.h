// A small window that shows how far a long load or save has come. It opens
// only when the work has run for a while, so short conversions never flash it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "imaging/progress.h"

namespace zavo::ui {

class FltkProgressDisplay : public ProgressDisplay {
 public:
  // Work shorter than `delay` shows nothing; the bar repaints at most once
  // per `interval`.
  explicit FltkProgressDisplay(std::chrono::milliseconds delay = std::chrono::milliseconds(300),
                               std::chrono::milliseconds interval = std::chrono::milliseconds(50));

  std::unique_ptr<Progress> Begin(const std::string& caption, const std::string& message) override;

 private:
  std::chrono::milliseconds delay_;
  std::chrono::milliseconds interval_;
};

}  // namespace zavo::ui
