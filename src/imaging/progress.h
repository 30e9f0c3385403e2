// Decoders and encoders report how far they are, row by row, so a long run can
// show a progress bar. Reports are cheap; the receiver decides when to repaint.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zavo {

class Progress {
 public:
  virtual ~Progress() = default;
  // `done` of `total` units (rows, usually) are finished.
  virtual void Advance(uint64_t done, uint64_t total) = 0;
};

inline void ReportProgress(Progress* progress, uint64_t done, uint64_t total) {
  if (progress != nullptr) progress->Advance(done, total);
}

// Things a codec noticed but got past (a damaged file decoded in part, an
// unknown tag): the caller prints each on stderr.
using Warnings = std::vector<std::string>;

}  // namespace zavo

namespace zavo {

// Shows the progress of one load or save (a window where there is a display).
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  // The display for one run; it closes when the returned object is destroyed.
  virtual std::unique_ptr<Progress> Begin(const std::string& caption,
                                          const std::string& message) = 0;
};

}  // namespace zavo
