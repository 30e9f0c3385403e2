#pragma once

#include <string>
#include <vector>

#include "platform/message_box.h"

namespace zavo::testing {

struct ShownBox {
  std::string text;
  int style;
  std::string title;
};

class RecordingMessageBoxes : public MessageBoxes {
 public:
  std::vector<ShownBox> shown;
  std::vector<std::string> texts;  // each box as "title, style: text"
  bool screen = true;
  void Show(const std::string& text, int style, const std::string& title) override {
    shown.push_back({text, style, title});
    texts.push_back(title + ", " + std::to_string(style) + ": " + text);
  }
  bool on_screen() const override { return screen; }
};

}  // namespace zavo::testing
