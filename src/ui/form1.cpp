#include "ui/form1.h"

#include <algorithm>

#include "host/host_exchange.h"
#include "platform/runtime_text.h"

namespace zavo::ui {
namespace {

constexpr const char* kGifNotSupported = "今回よりサポート外といたしました";

}  // namespace

template <typename T, typename... Args>
std::unique_ptr<T> Form1::Add(Args&&... args) {
  auto control = std::make_unique<T>(std::forward<Args>(args)...);
  controls_.push_back(control.get());
  return control;
}

Form1::Form1(ModuleState& state, ImgKit& imgkit, MessageBoxes& boxes)
    : state_(state), imgkit_(imgkit), boxes_(boxes) {
  controls_ = {&Label1, &Label2, &Image1, &Label5, &Label4};
  Label1.caption = "Plumio FileOption ADD_IN";
  Label1.align = TextAlign::Center;
  Label1.font_points = 12;
  Label2.caption = "zavo for Plumio";
  Label2.align = TextAlign::Center;
  Label5.caption = "R52";
  Label5.align = TextAlign::Center;
  Label4.border = true;
  Label4.elide_start = true;
  // Created back to front: the JPEG panel is the last one and lies on top.
  CreateTiffPanel();
  CreateGifPanel();
  CreateJpegPanel();
  panel_stack_ = {kTiffPanel, kGifPanel, kJpegPanel};
  ConnectHandlers();
}

void Form1::CreateJpegPanel() {
  Picture1[0] = Add<Control>("Picture1(0)", ControlKind::Panel, nullptr, 0, 1080, 3975, 1695, 2);
  F_PARA_BASE[0] =
      Add<Control>("F_PARA_BASE(0)", ControlKind::Frame, Picture1[0].get(), 30, 0, 3855, 1575, 4);
  F_PARA_BASE[0]->caption = "JPEG File Save Parameters";
  Control* frame = F_PARA_BASE[0].get();
  Label3 = Add<Control>("Label3", ControlKind::Label, frame, 120, 240, 2055, 255, 10);
  Label3->caption = "Quality (50～75が推奨)";
  JPEG_Q_DISP = Add<Control>("JPEG_Q_DISP", ControlKind::Label, frame, 3120, 360, 615, 375, 9);
  JPEG_Q_DISP->caption = "50";
  JPEG_Q_DISP->border = true;
  JPEG_Q_DISP->align = TextAlign::Right;
  JPEG_Q_DISP->font_points = 12;
  JPEG_Q_SC = Add<ScrollBar>("JPEG_Q_SC", ControlKind::ScrollBar, frame, 120, 480, 3015, 255, 8);
  JPEG_Q_SC->InitValue(50);
  JPEG_BW = Add<CheckBox>("JPEG_BW", ControlKind::CheckBox, frame, 120, 840, 3615, 255, 7);
  JPEG_BW->caption = "グレースケールデーターで保存する";
  Command1 = Add<Button>("Command1", ControlKind::Button, frame, 120, 1200, 1095, 255, 6);
  Command1->caption = "Save実行";
  Command2[0] = Add<Button>("Command2(0)", ControlKind::Button, frame, 2640, 1200, 1095, 255, 5);
  Command2[0]->caption = "戻る";
}

void Form1::CreateGifPanel() {
  Picture1[1] = Add<Control>("Picture1(1)", ControlKind::Panel, nullptr, 4080, 1080, 3975, 1695, 3);
  F_PARA_BASE[1] =
      Add<Control>("F_PARA_BASE(1)", ControlKind::Frame, Picture1[1].get(), 30, 0, 3855, 1575, 11);
  F_PARA_BASE[1]->caption = "Not Support ! Ver2.0 GIF File Save Parameters";
  Control* frame = F_PARA_BASE[1].get();
  GIF_INTER = Add<CheckBox>("GIF_INTER", ControlKind::CheckBox, frame, 120, 600, 3615, 255, 12);
  GIF_INTER->caption = "インターレース";
  Command3 = Add<Button>("Command3", ControlKind::Button, frame, 120, 1200, 1215, 255, 13);
  Command3->caption = "Save";
  Command2[1] = Add<Button>("Command2(1)", ControlKind::Button, frame, 2640, 1200, 1095, 255, 14);
  Command2[1]->caption = "Cancel";
  Line1 = Add<Line>("Line1", frame, 3840, 1560, 0, 120);
}

void Form1::CreateTiffPanel() {
  Picture1[2] = Add<Control>("Picture1(2)", ControlKind::Panel, nullptr, 0, 2880, 3975, 1695, 16);
  F_PARA_BASE[2] =
      Add<Control>("F_PARA_BASE(2)", ControlKind::Frame, Picture1[2].get(), 0, 0, 3855, 1575, 17);
  F_PARA_BASE[2]->caption = "TIF File Save Parameters";
  Control* frame = F_PARA_BASE[2].get();
  TIF_TYPE = Add<Control>("TIF_TYPE", ControlKind::Frame, frame, 120, 240, 3615, 615, 20);
  TIF_TYPE->caption = "TIFF形式";
  Option1 = Add<OptionButton>("Option1", ControlKind::OptionButton, TIF_TYPE.get(), 120, 240, 1095,
                              255, 21);
  Option1->caption = "無圧縮";
  Option2 = Add<OptionButton>("Option2", ControlKind::OptionButton, TIF_TYPE.get(), 1440, 240, 1455,
                              255, 22);
  Option2->caption = "PackBits圧縮";
  Option1->group = Option2->group = {Option1.get(), Option2.get()};
  Command4 = Add<Button>("Command4", ControlKind::Button, frame, 120, 1200, 1215, 255, 19);
  Command4->caption = "Save実行";
  Command2[2] = Add<Button>("Command2(2)", ControlKind::Button, frame, 2640, 1200, 1095, 255, 18);
  Command2[2]->caption = "戻る";
}

void Form1::ConnectHandlers() {
  // Option1 starts selected; its creation value runs no handler.
  Option1->SetSelected(true);
  JPEG_Q_SC->on_change = [this] { JPEG_Q_SC_Change(); };
  Option1->on_click = [this] { Option1_Click(); };
  Option2->on_click = [this] { Option2_Click(); };
  Command1->on_click = [this] { Command1_Click(); };
  Command3->on_click = [this] { Command3_Click(); };
  Command4->on_click = [this] { Command4_Click(); };
  for (int16_t i = 0; i < 3; ++i) Command2[i]->on_click = [this, i] { Command2_Click(i); };
}

void Form1::BringToFront(int panel) {
  std::erase(panel_stack_, panel);
  panel_stack_.push_back(panel);
}

void Form1::FocusNext(bool backwards) {
  std::vector<Control*> stops;
  std::copy_if(controls_.begin(), controls_.end(), std::back_inserter(stops),
               [](const Control* c) { return c->TakesFocus(); });
  if (stops.empty()) {
    focus_ = nullptr;
    return;
  }
  std::sort(stops.begin(), stops.end(),
            [](const Control* a, const Control* b) { return a->tab_index() < b->tab_index(); });
  auto at = std::find(stops.begin(), stops.end(), focus_);
  if (at == stops.end()) {
    focus_ = backwards ? stops.back() : stops.front();
  } else if (backwards) {
    focus_ = at == stops.begin() ? stops.back() : *(at - 1);
  } else {
    focus_ = (at + 1 == stops.end()) ? stops.front() : *(at + 1);
  }
}

bool Form1::UserKey(Key key) {
  if (focus_ == nullptr || !focus_->AcceptsInput()) return false;
  const bool click =
      key == Key::Space || (key == Key::Enter && focus_->kind() == ControlKind::Button);
  switch (focus_->kind()) {
    case ControlKind::ScrollBar:
      return static_cast<ScrollBar*>(focus_)->UserKey(key);
    case ControlKind::CheckBox:
      if (click) static_cast<CheckBox*>(focus_)->UserClick();
      return click;
    case ControlKind::Button:
      if (click) static_cast<Button*>(focus_)->UserClick();
      return click;
    case ControlKind::OptionButton: {
      int direction = 0;
      if (key == Key::Left || key == Key::Up) {
        direction = -1;
      } else if (key == Key::Right || key == Key::Down) {
        direction = +1;
      } else if (key != Key::Space) {
        return false;
      }
      auto* option = static_cast<OptionButton*>(focus_);
      if (direction != 0) option = option->Neighbour(direction);
      focus_ = option;
      option->UserClick();
      return true;
    }
    default:
      return false;
  }
}

void Form1::Repaint() {
  if (on_repaint) on_repaint();
}

void Form1::CenterOnScreen(int screen_width, int screen_height) {
  left = static_cast<float>(screen_width) / 2.0f - static_cast<float>(width()) / 2.0f;
  top = static_cast<float>(screen_height) / 2.0f - static_cast<float>(height()) / 2.0f;
  centred_ = true;
  Repaint();
}

void Form1::AdoptFrame(const FrameExtents& reported) {
  if (centred_) {
    left -= static_cast<float>(reported.left + reported.right - frame.left - frame.right) / 2.0f;
    top -= static_cast<float>(reported.top + reported.bottom - frame.top - frame.bottom) / 2.0f;
  }
  frame = reported;
  Repaint();
}

PixelRect Form1::ClientPixels() const {
  return {scale.Pixels(left + static_cast<float>(frame.left)),
          scale.Pixels(top + static_cast<float>(frame.top)), scale.Pixels(client_width),
          scale.Pixels(client_height)};
}

PixelRect Form1::PixelsOf(const Control& control) const {
  return {scale.Pixels(control.window_left()), scale.Pixels(control.window_top()),
          scale.Pixels(control.width), scale.Pixels(control.height)};
}

void Form1::StackPanels() {
  for (int i = 0; i < 3; ++i) {
    Picture1[i]->left = Picture1[0]->left;
    Picture1[i]->top = Picture1[0]->top;
    Picture1[i]->enabled = false;
  }
}

void Form1::ShowFormatPanel(int16_t FormatCode) {
  switch (FormatCode) {
    case kFormatGif:
      boxes_.Show(kGifNotSupported, kMbOkOnly, kAppTitle);
      break;
    case kFormatJpeg:
      Label4.caption = state_.TargetFile;
      BringToFront(kJpegPanel);
      Picture1[kJpegPanel]->enabled = true;
      break;
    case kFormatTiff:
      if (state_.TiffCompression == 0) {
        Option1->SetSelected(true);
        Option2->SetSelected(false);
      } else {
        Option1->SetSelected(false);
        Option2->SetSelected(true);
      }
      Label4.caption = state_.TargetFile;
      BringToFront(kTiffPanel);
      Picture1[kTiffPanel]->enabled = true;
      break;
    default:
      break;
  }
}

void Form1::FitHeight() { SetHeight(Picture1[0]->height + height() + 300); }

void Form1::JPEG_Q_SC_Change() {
  JPEG_Q_DISP->caption = SignPositionText(JPEG_Q_SC->value());
  Repaint();
}

void Form1::Option1_Click() { state_.TiffCompression = 0; }
void Form1::Option2_Click() { state_.TiffCompression = 1; }

void Form1::Command1_Click() {
  RunAlone([this] {
    ExportJpeg(imgkit_, boxes_, state_.TransferFile, state_.TargetFile, JPEG_Q_SC->value(),
               JPEG_BW->value());
  });
}

void Form1::Command2_Click(int16_t /*Index*/) { Unload(); }

void Form1::Command3_Click() {}

void Form1::Command4_Click() {
  RunAlone([this] {
    ExportTiff(imgkit_, boxes_, state_.TransferFile, state_.TargetFile, state_.TiffCompression);
  });
}

void Form1::Form_Unload() {
  if (!state_.SavesOnUnload) return;
  const Result<void> saved = SaveSettings(state_.Settings, *this);
  if (!saved) {
    ReportFailure(boxes_, "設定を保存できませんでした。\n" + saved.error().message(),
                  kMbExclamation, kAppTitle);
  }
}

void Form1::RunAlone(const std::function<void()>& work) {
  if (busy_) return;
  busy_ = true;
  struct Done {  // however the work ends, a throw included
    bool& busy;
    ~Done() { busy = false; }
  } done{busy_};
  work();
}

void Form1::Unload() {
  if (unloaded_ || busy_) return;
  unloaded_ = true;
  Form_Unload();
  if (on_unloaded) on_unloaded();
}

}  // namespace zavo::ui
