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
  bool screen = true;
  void Show(const std::string& text, int style, const std::string& title) override {
    shown.push_back({text, style, title});
  }
  bool on_screen() const override { return screen; }
  // Each box as "title, style: text".
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : shown)
      texts.push_back(box.title + ", " + std::to_string(box.style) + ": " + box.text);
    return texts;
  }
};

}  // namespace zavo::testing
