#include "platform/diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/message_box.h"
#include "support/recording_boxes.h"

namespace zavo {
namespace {

// A run of line ends (a blank line, CR LF) folds as one.
TEST(Diagnostics, WritesEachEventAsOneLineOfItsKind) {
  RecordingDiagnostics said;
  const ScopedDiagnostics to(said);
  CurrentDiagnostics().Warning("a\r\nb\nc\rd\r\r\n\ne\n");
  CurrentDiagnostics().Failure("ZAVO32", "読み込みに失敗しました。\nJPEG: x.jpg");
  StderrMessageBoxes().Show("line\r\rnext", kMbOkOnly, "Title");
  testing::RecordingMessageBoxes boxes;
  boxes.screen = false;
  ReportFailure(boxes, "one\ntwo", kMbCritical, "T");
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(said.lines, (std::vector<std::string>{
                            "zavo: warning: a / b / c / d / e / ",
                            "zavo: ZAVO32: 読み込みに失敗しました。 / JPEG: x.jpg",
                            "Title: line / next",
                            "zavo: T: one / two",
                        }));
}

}  // namespace
}  // namespace zavo
