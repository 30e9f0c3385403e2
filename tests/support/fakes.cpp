#include "support/fakes.h"

namespace zavo::testing {
namespace {

std::string Text(int32_t number) { return std::to_string(number); }

}  // namespace

ImageHandle RecordingImgKit::Load(const std::string& call) {
  if (during_load) during_load();
  const ImageHandle handle = loads_fail ? 0 : ++last_handle_;
  calls.push_back(call + ") -> " + Text(handle));
  return handle;
}

int32_t RecordingImgKit::Save(const std::string& call) {
  calls.push_back(call + ")");
  return save_status;
}

ImageHandle RecordingImgKit::ImgKitFileLoad(const std::string& path, const std::string& caption,
                                            const std::string& message) {
  return Load("FileLoad(" + path + ", " + caption + ", " + message);
}

ImageHandle RecordingImgKit::ImgKitJpegFileLoad(const std::string& path, const std::string& caption,
                                                const std::string& message, int32_t reserved) {
  return Load("JpegFileLoad(" + path + ", " + caption + ", " + message + ", " + Text(reserved));
}

ImageHandle RecordingImgKit::ImgKitTiffFileLoad(const std::string& path, const std::string& caption,
                                                const std::string& message, int32_t reserved) {
  return Load("TiffFileLoad(" + path + ", " + caption + ", " + message + ", " + Text(reserved));
}

int32_t RecordingImgKit::ImgKitBmpFileSave(const std::string& path, ImageHandle image,
                                           const std::string& caption, const std::string& message,
                                           int32_t reserved) {
  return Save("BmpFileSave(" + path + ", " + Text(image) + ", " + caption + ", " + message + ", " +
              Text(reserved));
}

int32_t RecordingImgKit::ImgKitJpegFileSave(const std::string& path, ImageHandle image,
                                            const std::string& caption, const std::string& message,
                                            int32_t quality, int32_t grayscale) {
  return Save("JpegFileSave(" + path + ", " + Text(image) + ", " + caption + ", " + message + ", " +
              Text(quality) + ", " + Text(grayscale));
}

int32_t RecordingImgKit::ImgKitTiffFileSave(const std::string& path, ImageHandle image,
                                            const std::string& caption, const std::string& message,
                                            int32_t compression) {
  return Save("TiffFileSave(" + path + ", " + Text(image) + ", " + caption + ", " + message + ", " +
              Text(compression));
}

int32_t RecordingImgKit::ImgKitMemFree(ImageHandle image) {
  calls.push_back("MemFree(" + Text(image) + ")");
  return 0;
}

}  // namespace zavo::testing
