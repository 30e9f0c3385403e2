#include "imaging/imgkit_library.h"

#include "imaging/bmp_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/orientation.h"
#include "platform/diagnostics.h"

namespace zavo {
namespace {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusFailed = -1;
// The first line of a failure box; the error's own message follows.
constexpr const char* kLoadFailed = "読み込みに失敗しました。";
constexpr const char* kSaveFailed = "保存に失敗しました。";

// The JPEG and TIFF writers write the rows as they are stored (and say
// "upright"): a picture loaded with another orientation is turned first. An
// upright one is encoded from its own rows, in memory or read from its file
// a band at a time.
Result<void> SaveUpright(const Image& image, Progress* shown,
                         const std::function<Result<void>(const Image&, Progress*)>& save) {
  if (image.orientation != kUpright) {
    ZAVO_TRY_ASSIGN(const Image upright, UprightCopy(image));
    return save(upright, shown);
  }
  return save(image, shown);
}

}  // namespace

LibraryImgKit::LibraryImgKit(MessageBoxes& boxes, ProgressDisplay* progress, TiffCodecSource tiff)
    : boxes_(boxes), progress_(progress), tiff_source_(std::move(tiff)) {}

ImageHandle LibraryImgKit::ImgKitFileLoad(const std::string& path, const std::string& caption,
                                          const std::string& message) {
  return Load([&](Warnings* w, Progress* p) { return LoadBmpFile(path, w, p); }, caption, message);
}

ImageHandle LibraryImgKit::ImgKitJpegFileLoad(const std::string& path, const std::string& caption,
                                              const std::string& message, int32_t /*reserved*/) {
  return Load([&](Warnings* w, Progress* p) { return LoadJpegFile(path, w, p); }, caption, message);
}

ImageHandle LibraryImgKit::ImgKitTiffFileLoad(const std::string& path, const std::string& caption,
                                              const std::string& message, int32_t /*reserved*/) {
  return Load(
      [&](Warnings* w, Progress* p) -> Result<Image> {
        ZAVO_TRY_ASSIGN(const TiffCodec* tiff, Tiff());
        return tiff->load(path, w, p);
      },
      caption, message);
}

int32_t LibraryImgKit::ImgKitBmpFileSave(const std::string& path, ImageHandle image,
                                         const std::string& caption, const std::string& message,
                                         int32_t /*reserved*/) {
  return Save([&](const Image& i, Progress* p) { return SaveBmpFile(path, i, p); }, image, path,
              caption, message);
}

int32_t LibraryImgKit::ImgKitJpegFileSave(const std::string& path, ImageHandle image,
                                          const std::string& caption, const std::string& message,
                                          int32_t quality, int32_t grayscale) {
  return Save(
      [&](const Image& i, Progress* p) {
        return SaveUpright(i, p, [&](const Image& u, Progress* q) {
          return SaveJpegFile(path, u, quality, grayscale != 0, q);
        });
      },
      image, path, caption, message);
}

int32_t LibraryImgKit::ImgKitTiffFileSave(const std::string& path, ImageHandle image,
                                          const std::string& caption, const std::string& message,
                                          int32_t compression) {
  if (compression != kImgKitTiffNone && compression != kImgKitTiffPackBits) {
    ReportError(
        Error(ErrorKind::Unsupported, "TIFF: compression mode " + std::to_string(compression) +
                                          " is not supported (0 none, 5 PackBits): " + path),
        caption, kSaveFailed);
    return kStatusFailed;
  }
  const bool packbits = compression == kImgKitTiffPackBits;
  return Save(
      [&](const Image& i, Progress* p) -> Result<void> {
        ZAVO_TRY_ASSIGN(const TiffCodec* tiff, Tiff());
        return SaveUpright(
            i, p, [&](const Image& u, Progress* q) { return tiff->save(path, u, packbits, q); });
      },
      image, path, caption, message);
}

int32_t LibraryImgKit::ImgKitMemFree(ImageHandle image) {
  images_.erase(image);
  return kStatusOk;
}

const Image* LibraryImgKit::Find(ImageHandle image) const {
  const auto found = images_.find(image);
  return found == images_.end() ? nullptr : &found->second;
}

ImageHandle LibraryImgKit::Load(const Loader& load, const std::string& caption,
                                const std::string& message) {
  Warnings warnings;
  Result<Image> image = [&] {
    const auto progress = BeginProgress(caption, message);
    return load(&warnings, progress.get());
  }();
  PrintWarnings(warnings);
  if (!image) {
    ReportError(image.error(), caption, kLoadFailed);
    return 0;
  }
  const ImageHandle handle = next_handle_++;
  images_.emplace(handle, std::move(image).value());
  return handle;
}

int32_t LibraryImgKit::Save(const Saver& save, ImageHandle image, const std::string& path,
                            const std::string& caption, const std::string& message) {
  const Image* picture = Find(image);
  if (picture == nullptr) {
    ReportError(Error(ErrorKind::InvalidValue,
                      "no picture to save (handle " + std::to_string(image) + "): " + path),
                caption, kSaveFailed);
    return kStatusFailed;
  }
  Result<void> saved = [&] {
    const auto progress = BeginProgress(caption, message);
    return save(*picture, progress.get());
  }();
  if (!saved) {
    ReportError(saved.error(), caption, kSaveFailed);
    return kStatusFailed;
  }
  return kStatusOk;
}

void LibraryImgKit::ReportError(const Error& error, const std::string& caption,
                                const std::string& failure) {
  const std::string title = caption.empty() ? kAppTitle : caption;
  ReportFailure(boxes_, failure + "\n" + error.message(), kMbCritical, title);
}

void LibraryImgKit::PrintWarnings(const Warnings& warnings) {
  for (const std::string& warning : warnings) {
    CurrentDiagnostics().Warning(warning);
  }
}

Result<const TiffCodec*> LibraryImgKit::Tiff() {
  if (tiff_ == nullptr) {
    ZAVO_TRY_ASSIGN(tiff_, tiff_source_());
  }
  return tiff_;
}

std::unique_ptr<Progress> LibraryImgKit::BeginProgress(const std::string& caption,
                                                       const std::string& message) {
  if (progress_ == nullptr) return nullptr;
  return progress_->Begin(caption.empty() ? kAppTitle : caption, message);
}

}  // namespace zavo
