// Test doubles for the outside: a recording imaging library, message boxes
// that remember what they showed, a window with a fixed screen, and the
// controls the settings are loaded into.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "imaging/imgkit.h"
#include "platform/error.h"
#include "platform/message_box.h"
#include "settings/settings.h"

namespace zavo::testing {

// Remembers every call with its arguments, one line each, e.g.
// "JpegFileSave(out.jpg, 1, , , 75, 1)". Loads succeed unless told otherwise.
class RecordingImgKit : public ImgKit {
 public:
  std::vector<std::string> calls;
  bool loads_fail = false;
  int32_t save_status = 0;
  // Runs inside every load, as the events a progress display lets through do.
  std::function<void()> during_load;

  ImageHandle ImgKitFileLoad(const std::string& path, const std::string& caption,
                             const std::string& message) override;
  ImageHandle ImgKitJpegFileLoad(const std::string& path, const std::string& caption,
                                 const std::string& message, int32_t reserved) override;
  ImageHandle ImgKitTiffFileLoad(const std::string& path, const std::string& caption,
                                 const std::string& message, int32_t reserved) override;
  int32_t ImgKitBmpFileSave(const std::string& path, ImageHandle image, const std::string& caption,
                            const std::string& message, int32_t reserved) override;
  int32_t ImgKitJpegFileSave(const std::string& path, ImageHandle image, const std::string& caption,
                             const std::string& message, int32_t quality,
                             int32_t grayscale) override;
  int32_t ImgKitTiffFileSave(const std::string& path, ImageHandle image, const std::string& caption,
                             const std::string& message, int32_t compression) override;
  int32_t ImgKitMemFree(ImageHandle image) override;

 private:
  ImageHandle Load(const std::string& call);
  int32_t Save(const std::string& call);
  ImageHandle last_handle_ = 0;
};

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

class FakeWindow : public WindowHost {
 public:
  bool display = true;
  int shows = 0;
  bool interactive() const override { return display; }
  int ScreenWidthTwips() const override { return 1024 * 15; }
  int ScreenHeightTwips() const override { return 768 * 15; }
  void Show() override { ++shows; }
};

// Holds the three values, refuses what the real controls refuse and logs
// what it accepted, e.g. "JPGQ=60".
class FakeTarget : public SettingsTarget {
 public:
  FakeTarget(int16_t q = 50, int16_t g = 0, int16_t t = 0) : quality(q), grayscale(g), tiff(t) {}
  int16_t JpegQuality() const override { return quality; }
  void SetJpegQuality(int16_t value) override { quality = Checked("JPGQ", value, 100); }
  int16_t JpegGrayscale() const override { return grayscale; }
  void SetJpegGrayscale(int16_t value) override { grayscale = Checked("JPGB", value, 2); }
  int16_t TiffCompressionFlag() const override { return tiff; }
  void SetTiffCompressionFlag(int16_t value) override { tiff = Logged("TIFM", value); }

  int16_t quality, grayscale, tiff;
  std::vector<std::string> log;

 private:
  int16_t Checked(const char* key, int16_t value, int16_t most) {
    if (value < 0 || value > most)
      throw Error(ErrorKind::InvalidValue, std::string(key) + " refused");
    return Logged(key, value);
  }
  int16_t Logged(const char* key, int16_t value) {
    log.push_back(std::string(key) + "=" + std::to_string(value));
    return value;
  }
};

}  // namespace zavo::testing
