// Test doubles for the imaging library and the window.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "imaging/imgkit.h"
#include "support/recording_boxes.h"
#include "ui/window_host.h"

namespace zavo::testing {

// Each call as e.g. "JpegFileSave(out.jpg, 1, , , 75, 1)".
class RecordingImgKit : public ImgKit {
 public:
  std::vector<std::string> calls;
  bool loads_fail = false;
  int32_t save_status = 0;
  // Runs inside every load, as the events a progress display lets through do.
  std::function<void()> during_load;

  ImageHandle ImgKitFileLoad(const std::string& path, const std::string& caption,
                             const std::string& message) override {
    return Load(Call("FileLoad", path, caption, message));
  }
  ImageHandle ImgKitJpegFileLoad(const std::string& path, const std::string& caption,
                                 const std::string& message, int32_t reserved) override {
    return Load(Call("JpegFileLoad", path, caption, message, reserved));
  }
  ImageHandle ImgKitTiffFileLoad(const std::string& path, const std::string& caption,
                                 const std::string& message, int32_t reserved) override {
    return Load(Call("TiffFileLoad", path, caption, message, reserved));
  }
  int32_t ImgKitBmpFileSave(const std::string& path, ImageHandle image, const std::string& caption,
                            const std::string& message, int32_t reserved) override {
    return Save(Call("BmpFileSave", path, image, caption, message, reserved));
  }
  int32_t ImgKitJpegFileSave(const std::string& path, ImageHandle image, const std::string& caption,
                             const std::string& message, int32_t quality,
                             int32_t grayscale) override {
    return Save(Call("JpegFileSave", path, image, caption, message, quality, grayscale));
  }
  int32_t ImgKitTiffFileSave(const std::string& path, ImageHandle image, const std::string& caption,
                             const std::string& message, int32_t compression) override {
    return Save(Call("TiffFileSave", path, image, caption, message, compression));
  }
  int32_t ImgKitMemFree(ImageHandle image) override {
    calls.push_back(Call("MemFree", image));
    return 0;
  }

 private:
  template <typename... Args>
  static std::string Call(const char* name, const Args&... args) {
    std::string call = std::string(name) + "(";
    const char* separator = "";
    ((call += separator + Text(args), separator = ", "), ...);
    return call + ")";
  }
  static std::string Text(const std::string& text) { return text; }
  static std::string Text(int32_t number) { return std::to_string(number); }
  ImageHandle Load(const std::string& call);
  int32_t Save(const std::string& call);
  ImageHandle last_handle_ = 0;
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

}  // namespace zavo::testing
