// The imaging library as the add-in sees it: seven operations on images held
// behind integer handles. The import and export runs call only these, so
// tests can stand a recording library in its place.
#pragma once

#include <cstdint>
#include <string>

namespace zavo {

// Names an image in the library's memory; 0 means none.
using ImageHandle = int32_t;

// The library's own TIFF mode numbers, not TIFF tag values.
inline constexpr int32_t kImgKitTiffNone = 0;
inline constexpr int32_t kImgKitTiffPackBits = 5;

class ImgKit {
 public:
  virtual ~ImgKit() = default;

  // Loaders return 0 on failure, after the library has told the user why.
  virtual ImageHandle ImgKitFileLoad(const std::string& path, const std::string& caption,
                                     const std::string& message) = 0;
  virtual ImageHandle ImgKitJpegFileLoad(const std::string& path, const std::string& caption,
                                         const std::string& message, int32_t reserved) = 0;
  virtual ImageHandle ImgKitTiffFileLoad(const std::string& path, const std::string& caption,
                                         const std::string& message, int32_t reserved) = 0;

  // Savers return 0 on success and a non-zero status on failure.
  virtual int32_t ImgKitBmpFileSave(const std::string& path, ImageHandle image,
                                    const std::string& caption, const std::string& message,
                                    int32_t reserved) = 0;
  virtual int32_t ImgKitJpegFileSave(const std::string& path, ImageHandle image,
                                     const std::string& caption, const std::string& message,
                                     int32_t quality, int32_t grayscale) = 0;
  virtual int32_t ImgKitTiffFileSave(const std::string& path, ImageHandle image,
                                     const std::string& caption, const std::string& message,
                                     int32_t compression) = 0;

  // Accepts any handle, 0 and unknown ones included.
  virtual int32_t ImgKitMemFree(ImageHandle image) = 0;
};

}  // namespace zavo
