#include "support/fakes.h"

namespace zavo::testing {

ImageHandle RecordingImgKit::NextHandle() {
  if (during_load) during_load();
  return loads_fail ? 0 : ++last_handle_;
}

ImageHandle RecordingImgKit::ImgKitFileLoad(const std::string& path, const std::string& caption,
                                            const std::string& message) {
  const ImageHandle handle = NextHandle();
  calls.push_back("FileLoad(" + path + ", " + caption + ", " + message + ") -> " +
                  std::to_string(handle));
  return handle;
}

ImageHandle RecordingImgKit::ImgKitJpegFileLoad(const std::string& path, const std::string& caption,
                                                const std::string& message, int32_t reserved) {
  const ImageHandle handle = NextHandle();
  calls.push_back("JpegFileLoad(" + path + ", " + caption + ", " + message + ", " +
                  std::to_string(reserved) + ") -> " + std::to_string(handle));
  return handle;
}

ImageHandle RecordingImgKit::ImgKitTiffFileLoad(const std::string& path, const std::string& caption,
                                                const std::string& message, int32_t reserved) {
  const ImageHandle handle = NextHandle();
  calls.push_back("TiffFileLoad(" + path + ", " + caption + ", " + message + ", " +
                  std::to_string(reserved) + ") -> " + std::to_string(handle));
  return handle;
}

int32_t RecordingImgKit::ImgKitBmpFileSave(const std::string& path, ImageHandle image,
                                           const std::string& caption, const std::string& message,
                                           int32_t reserved) {
  calls.push_back("BmpFileSave(" + path + ", " + std::to_string(image) + ", " + caption + ", " +
                  message + ", " + std::to_string(reserved) + ")");
  return save_status;
}

int32_t RecordingImgKit::ImgKitJpegFileSave(const std::string& path, ImageHandle image,
                                            const std::string& caption, const std::string& message,
                                            int32_t quality, int32_t grayscale) {
  calls.push_back("JpegFileSave(" + path + ", " + std::to_string(image) + ", " + caption + ", " +
                  message + ", " + std::to_string(quality) + ", " + std::to_string(grayscale) +
                  ")");
  return save_status;
}

int32_t RecordingImgKit::ImgKitTiffFileSave(const std::string& path, ImageHandle image,
                                            const std::string& caption, const std::string& message,
                                            int32_t compression) {
  calls.push_back("TiffFileSave(" + path + ", " + std::to_string(image) + ", " + caption + ", " +
                  message + ", " + std::to_string(compression) + ")");
  return save_status;
}

int32_t RecordingImgKit::ImgKitMemFree(ImageHandle image) {
  calls.push_back("MemFree(" + std::to_string(image) + ")");
  return 0;
}

}  // namespace zavo::testing
