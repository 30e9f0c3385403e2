// Form1, the add-in's one window, as a model: the control tree with the
// settings each control starts with, the window operations start-up calls
// and the handlers behind the controls.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/format_code.h"
#include "imaging/imgkit.h"
#include "platform/message_box.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/display_scale.h"
#include "ui/module_state.h"

namespace zavo::ui {

// Panel indexes of the control arrays Picture1, F_PARA_BASE and Command2.
inline constexpr int kJpegPanel = 0;
inline constexpr int kGifPanel = 1;
inline constexpr int kTiffPanel = 2;

inline constexpr const char* kFormCaption = "Plumio File Option ADDIN";

// The window manager's frame around the client area, twips.
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

class Form1 : public SettingsTarget {
 public:
  // The view takes the window off the screen through `on_unloaded`.
  Form1(ModuleState& state, ImgKit& imgkit, MessageBoxes& boxes);

  // --- window ---
  std::string caption = kFormCaption;
  float left = 0;  // outer position on the screen, twips
  float top = 0;
  int client_width = 3960;
  int client_height = 720;
  // Frame and title bar around the client area; none until the window
  // manager reports its frame.
  FrameExtents frame;
  int width() const { return client_width + frame.left + frame.right; }
  int height() const { return client_height + frame.top + frame.bottom; }
  void SetHeight(int outer_height) { client_height = outer_height - frame.top - frame.bottom; }
  // The window manager reported its frame once the window was shown. A
  // window centred on the screen stays centred by its outer size: it moves
  // up and left by half the frame.
  void AdoptFrame(const FrameExtents& reported);

  // The display's resolution, set by the toolkit before start-up.
  DisplayScale scale;
  // The client area on the screen, and a control in the client area; pixels.
  PixelRect ClientPixels() const;
  PixelRect PixelsOf(const Control& control) const;
  int FontPixelsOf(const Control& control) const { return scale.FontPixels(control.font_points); }

  // --- controls, by their designer names ---
  Control Label1{"Label1", ControlKind::Label, nullptr, 720, 120, 3135, 330, 0};
  Control Label2{"Label2", ControlKind::Label, nullptr, 960, 360, 2415, 255, 1};
  Control Image1{"Image1", ControlKind::Image, nullptr, 120, 0, 480, 480, -1};
  Control Label5{"Label5", ControlKind::Label, nullptr, 0, 480, 735, 255, 23};
  Control Label4{"Label4", ControlKind::Label, nullptr, 0, 840, 3975, 255, 15};
  std::array<std::unique_ptr<Control>, 3> Picture1;
  std::array<std::unique_ptr<Control>, 3> F_PARA_BASE;
  std::unique_ptr<Control> Label3;
  std::unique_ptr<Control> JPEG_Q_DISP;
  std::unique_ptr<ScrollBar> JPEG_Q_SC;
  std::unique_ptr<CheckBox> JPEG_BW;
  std::unique_ptr<Button> Command1;
  std::array<std::unique_ptr<Button>, 3> Command2;
  std::unique_ptr<CheckBox> GIF_INTER;
  std::unique_ptr<Button> Command3;
  std::unique_ptr<Line> Line1;
  std::unique_ptr<Control> TIF_TYPE;
  std::unique_ptr<OptionButton> Option1;
  std::unique_ptr<OptionButton> Option2;
  std::unique_ptr<Button> Command4;

  // Every control in creation order: containers before their contents.
  const std::vector<Control*>& controls() const { return controls_; }

  // Panel indexes from back to front.
  const std::vector<int>& panel_stack() const { return panel_stack_; }
  void BringToFront(int panel);
  int FrontPanel() const { return panel_stack_.back(); }

  // Keyboard focus in ascending tab index over the controls that take it.
  Control* focus() const { return focus_; }
  // The toolkit moved the focus itself (a click); Tab goes on from there.
  void SetFocus(Control* control) { focus_ = control; }
  void FocusNext(bool backwards = false);
  // A key pressed while `focus()` has the focus: arrows inside an option
  // group select the neighbouring option and take the focus along, Space
  // clicks a check box, option or button, Enter a button, and the scroll
  // bar steps (ScrollBar::UserKey). False when the focused control does
  // not answer the key, so the toolkit may use it.
  bool UserKey(Key key);

  // --- window operations called by start-up ---
  void CenterOnScreen(int screen_width, int screen_height);
  void StackPanels();
  void ShowFormatPanel(int16_t FormatCode);
  void FitHeight();

  // --- handlers ---
  void JPEG_Q_SC_Change();
  void Option1_Click();
  void Option2_Click();
  void Command1_Click();
  void Command2_Click(int16_t Index);
  void Command3_Click();
  void Command4_Click();
  void Form_Unload();

  // One handler at a time. While a load or save runs, its progress display
  // lets the toolkit dispatch events: the window then takes no input, and a
  // second save or an unload that slips through anyway does nothing.
  bool busy() const { return busy_; }
  // Runs `work` as the one handler; nothing when another runs.
  void RunAlone(const std::function<void()>& work);

  // Unloads the window: Form_Unload, then the window is gone (once only,
  // and never while a handler runs).
  void Unload();
  bool unloaded() const { return unloaded_; }
  // Runs after the unload, to take the window off the screen.
  std::function<void()> on_unloaded;
  // Runs after every change the view must show (set by the view).
  std::function<void()> on_repaint;
  void Repaint();

  // --- SettingsTarget ---
  int16_t JpegQuality() const override { return JPEG_Q_SC->value(); }
  Result<void> SetJpegQuality(int16_t value) override { return JPEG_Q_SC->SetValue(value); }
  int16_t JpegGrayscale() const override { return JPEG_BW->value(); }
  Result<void> SetJpegGrayscale(int16_t value) override { return JPEG_BW->SetValue(value); }
  int16_t TiffCompressionFlag() const override { return state_.TiffCompression; }
  Result<void> SetTiffCompressionFlag(int16_t value) override {
    state_.TiffCompression = value;
    return {};
  }

 private:
  template <typename T, typename... Args>
  std::unique_ptr<T> Add(Args&&... args);
  void CreateJpegPanel();
  void CreateGifPanel();
  void CreateTiffPanel();
  void ConnectHandlers();

  ModuleState& state_;
  ImgKit& imgkit_;
  MessageBoxes& boxes_;
  std::vector<Control*> controls_;
  std::vector<int> panel_stack_;
  Control* focus_ = nullptr;
  bool centred_ = false;
  bool unloaded_ = false;
  bool busy_ = false;
};

}  // namespace zavo::ui
