// Drives the export path without the window: the host's BMP through the real
// imaging library to JPEG or TIFF, exactly as the Save buttons do.
// Usage: zavo_export_bench IN.bmp OUT jpeg QUALITY GRAY | tiff none|packbits
#include <cstdio>
#include <cstdlib>
#include <string>

#include "imaging/host_exchange.h"
#include "imaging/imgkit_library.h"
#include "platform/message_box.h"

int main(int argc, char** argv) {
  const std::string kind = argc > 3 ? argv[3] : "";
  if (!((kind == "jpeg" && argc == 6) || (kind == "tiff" && argc == 5))) {
    std::fprintf(stderr, "usage: %s IN.bmp OUT jpeg QUALITY GRAY | tiff none|packbits\n", argv[0]);
    return 2;
  }
  zavo::StderrMessageBoxes boxes;
  zavo::LibraryImgKit imgkit(boxes);
  if (kind == "jpeg") {
    zavo::ExportJpeg(imgkit, argv[1], argv[2], static_cast<int16_t>(std::atoi(argv[4])),
                     static_cast<int16_t>(std::atoi(argv[5])));
  } else {
    zavo::ExportTiff(imgkit, argv[1], argv[2], std::string(argv[4]) == "packbits" ? 1 : 0);
  }
  return 0;
}
