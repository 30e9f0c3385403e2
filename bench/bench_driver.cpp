// Drives the imaging library without the window, for the benchmark: the
// exports exactly as the Save buttons run them, and the import with or
// without the progress display (to measure what the display costs).
//   zavo_bench export-jpeg IN.bmp OUT.jpg QUALITY GRAY
//   zavo_bench export-tiff IN.bmp OUT.tif none|packbits
//   zavo_bench import-jpeg|import-tiff IN OUT.bmp [--display | --progress | --progress-times]
// --progress-times prints, on stderr, when the bar would first show and each
// time it would move by a percent, in milliseconds from the start.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Window.H>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "host/host_exchange.h"
#include "imaging/imgkit_library.h"
#include "imaging/tiff/tiff_codec.h"
#include "platform/message_box.h"
#include "ui/fltk/progress.h"
#include "ui/fltk/view.h"

namespace {

int Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s export-jpeg IN.bmp OUT QUALITY GRAY | export-tiff IN.bmp OUT "
               "none|packbits | import-jpeg|import-tiff IN OUT.bmp "
               "[--display|--progress|--progress-times]\n",
               program);
  return 2;
}

// Stands in for the program's own window, which is on the screen (fonts
// loaded, first paint done) before any import starts.
void ShowMainWindowStandIn(Fl_Window& window) {
  auto* label = new Fl_Box(8, 8, 248, 32, "Plumio File Option ADDIN 読み込み");
  label->labelfont(FL_HELVETICA);
  window.end();
  window.show();
  while (!window.shown() || !window.visible()) Fl::wait(0.01);
  Fl::flush();
}

// Prints the time of every whole percent a run reaches.
class ProgressTimes : public zavo::ProgressDisplay {
 public:
  std::unique_ptr<zavo::Progress> Begin(const std::string&, const std::string&) override {
    return std::make_unique<Times>(start_);
  }

 private:
  class Times : public zavo::Progress {
   public:
    explicit Times(std::chrono::steady_clock::time_point start) : start_(start) {}
    void Advance(uint64_t done, uint64_t total) override {
      const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
      if (percent <= shown_) return;
      shown_ = percent;
      const auto elapsed = std::chrono::steady_clock::now() - start_;
      std::fprintf(stderr, "%5lld ms %3d %%\n",
                   static_cast<long long>(
                       std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()),
                   percent);
    }

   private:
    std::chrono::steady_clock::time_point start_;
    int shown_ = -1;
  };
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// `option` is "", "--display" (the display opened and a window shown, as
// the program has them), "--progress" (the same, and the progress window)
// or "--progress-times" (no display; the times the bar would move).
int Import(const std::string& kind, const char* source, const char* transfer,
           const std::string& option) {
  zavo::StderrMessageBoxes boxes;
  std::unique_ptr<zavo::ProgressDisplay> display;
  Fl_Window window(264, 48);
  if (option == "--progress-times") {
    display = std::make_unique<ProgressTimes>();
  } else if (!option.empty()) {
    if (!zavo::ui::OpenDisplayIfAny()) {
      std::fprintf(stderr, "%s needs a display\n", option.c_str());
      return 2;
    }
    ShowMainWindowStandIn(window);
    if (option == "--progress") display = std::make_unique<zavo::ui::FltkProgressDisplay>();
  }
  zavo::LibraryImgKit imgkit(boxes, display.get(), zavo::LinkedTiffCodec);
  const int16_t format = kind == "import-jpeg" ? zavo::kFormatJpeg : zavo::kFormatTiff;
  return zavo::ImportForHost(imgkit, boxes, format, source, transfer) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "";
  zavo::StderrMessageBoxes boxes;
  zavo::LibraryImgKit imgkit(boxes, nullptr, zavo::LinkedTiffCodec);
  if (kind == "export-jpeg" && argc == 6) {
    zavo::ExportJpeg(imgkit, boxes, argv[2], argv[3], static_cast<int16_t>(std::atoi(argv[4])),
                     static_cast<int16_t>(std::atoi(argv[5])));
    return 0;
  }
  if (kind == "export-tiff" && argc == 5) {
    const int16_t packbits = std::string(argv[4]) == "packbits" ? 1 : 0;
    zavo::ExportTiff(imgkit, boxes, argv[2], argv[3], packbits);
    return 0;
  }
  if ((kind == "import-jpeg" || kind == "import-tiff") && (argc == 4 || argc == 5)) {
    return Import(kind, argv[2], argv[3], argc == 5 ? argv[4] : "");
  }
  return Usage(argv[0]);
}
