// The real imaging library: our BMP codec, libjpeg-turbo and libtiff behind
// the ImgKit operations, with the pictures held in a handle table.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "imaging/image.h"
#include "imaging/imgkit.h"
#include "imaging/progress.h"
#include "imaging/tiff_module.h"
#include "platform/error.h"
#include "platform/message_box.h"

namespace zavo {

class LibraryImgKit : public ImgKit {
 public:
  // Failures are reported through `boxes` (a box where there is a display,
  // one diagnostics line always); `progress` may be null. `tiff` is asked
  // for the TIFF codec at the first TIFF file.
  LibraryImgKit(MessageBoxes& boxes, ProgressDisplay* progress, TiffCodecSource tiff);

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

  // The picture behind a handle, or null.
  const Image* Find(ImageHandle image) const;
  size_t image_count() const { return images_.size(); }

 private:
  using Loader = std::function<Result<Image>(Warnings*, Progress*)>;
  using Saver = std::function<Result<void>(const Image&, Progress*)>;

  ImageHandle Load(const Loader& load, const std::string& caption, const std::string& message);
  int32_t Save(const Saver& save, ImageHandle image, const std::string& path,
               const std::string& caption, const std::string& message);
  // `failure` says what failed, in the user's words.
  void ReportError(const Error& error, const std::string& caption, const std::string& failure);
  void PrintWarnings(const Warnings& warnings);
  std::unique_ptr<Progress> BeginProgress(const std::string& caption, const std::string& message);
  Result<const TiffCodec*> Tiff();

  MessageBoxes& boxes_;
  ProgressDisplay* progress_;
  TiffCodecSource tiff_source_;
  const TiffCodec* tiff_ = nullptr;
  std::map<ImageHandle, Image> images_;
  ImageHandle next_handle_ = 1;
};

}  // namespace zavo
