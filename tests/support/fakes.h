// Test doubles for the outside: a recording imaging library, message boxes
// that remember what they showed, a window with a fixed screen, and the
// controls the settings are loaded into.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "imaging/imgkit.h"
#include "platform/error.h"
#include "support/recording_boxes.h"
#include "ui/window_host.h"

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
