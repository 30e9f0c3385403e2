#include "host/host_exchange.h"

#include <sys/stat.h>

namespace zavo {
namespace {

constexpr const char* kImportCaption = "Plumio File Option ADD_IN";
constexpr const char* kExportCaption = "Plumio File ADD_In";
constexpr const char* kExportLoadMessage = "読み込み中";

// True when both paths name one existing file, whatever links or folders
// lead to it: writing one would destroy the other before it was read.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Reports the refusal; false when `target` is `source` itself.
bool CheckDistinct(MessageBoxes& boxes, const std::string& source, const std::string& target,
                   const std::string& caption) {
  if (!SameFile(source, target)) return true;
  ReportFailure(boxes,
                "保存に失敗しました。\ncannot write " + target +
                    ": it is the same file as the picture to be read, " + source +
                    "; nothing was written",
                kMbCritical, caption.empty() ? kAppTitle : caption);
  return false;
}

}  // namespace

bool ImportForHost(ImgKit& imgkit, MessageBoxes& boxes, int16_t format_code,
                   const std::string& target_file, const std::string& transfer_file) {
  if (!CheckDistinct(boxes, target_file, transfer_file, kImportCaption)) return false;
  ImageHandle image = 0;
  if (format_code == kFormatJpeg) {
    image = imgkit.ImgKitJpegFileLoad(target_file, kImportCaption, "JPGファイル読み込み", 0);
  } else if (format_code == kFormatTiff) {
    image = imgkit.ImgKitTiffFileLoad(target_file, kImportCaption, "TIFFファイル読み込み", 0);
  }
  int32_t status = -1;
  if (image != 0) {
    status = imgkit.ImgKitBmpFileSave(transfer_file, image, "Plumioへの引き渡し", transfer_file, 0);
  }
  imgkit.ImgKitMemFree(image);
  return image != 0 && status == 0;
}

// A failed load has been reported by the library; handing its empty handle on
// to the saver would only report the same failure a second time.
void ExportJpeg(ImgKit& imgkit, MessageBoxes& boxes, const std::string& transfer_file,
                const std::string& target_file, int16_t quality, int16_t grayscale_box) {
  if (!CheckDistinct(boxes, transfer_file, target_file, "")) return;
  const ImageHandle image =
      imgkit.ImgKitFileLoad(transfer_file, kExportCaption, kExportLoadMessage);
  const int32_t grayscale = grayscale_box != 0 ? 1 : 0;
  if (image != 0)
    imgkit.ImgKitJpegFileSave(target_file, image, "", "", int32_t{quality}, grayscale);
  imgkit.ImgKitMemFree(image);
}

void ExportTiff(ImgKit& imgkit, MessageBoxes& boxes, const std::string& transfer_file,
                const std::string& target_file, int16_t tiff_compression) {
  if (!CheckDistinct(boxes, transfer_file, target_file, "")) return;
  const ImageHandle image =
      imgkit.ImgKitFileLoad(transfer_file, kExportCaption, kExportLoadMessage);
  const bool packbits = tiff_compression != 0;
  const int32_t compression = packbits ? kImgKitTiffPackBits : kImgKitTiffNone;
  const char* message = packbits ? "圧縮保存中" : "保存中";
  if (image != 0) imgkit.ImgKitTiffFileSave(target_file, image, "", message, compression);
  imgkit.ImgKitMemFree(image);
}

}  // namespace zavo
