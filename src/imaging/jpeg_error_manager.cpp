#include "imaging/jpeg_error_manager.h"

#include <jerror.h>

#include <algorithm>

#include "imaging/jpeg_limits.h"

namespace zavo {
namespace {

// A corrupt file can make libjpeg warn thousands of times, each time with a
// different byte count; the first few distinct texts say all there is.
constexpr size_t kMaxWarnings = 8;

JpegErrorManager* ManagerOf(j_common_ptr cinfo) {
  return reinterpret_cast<JpegErrorManager*>(cinfo->err);
}

[[noreturn]] void ExitWithError(j_common_ptr cinfo) {
  JpegErrorManager* err = ManagerOf(cinfo);
  err->code = err->pub.msg_code;
  (*err->pub.format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void KeepWarning(JpegErrorManager* err, const char* text) {
  if (err->warnings == nullptr || err->warnings->size() >= kMaxWarnings) return;
  // Called from inside libjpeg (C): no exception may leave this function.
  try {
    auto& list = *err->warnings;
    if (std::find(list.begin(), list.end(), text) == list.end()) list.emplace_back(text);
  } catch (...) {
  }
}

// libjpeg calls this for warnings (level -1) and trace messages (0 and up).
// Warnings mean libjpeg met damaged data and carried on, filling in what it
// could not read; the caller decides what to tell the user.
void EmitMessage(j_common_ptr cinfo, int msg_level) {
  if (msg_level >= 0) return;
  JpegErrorManager* err = ManagerOf(cinfo);
  ++err->pub.num_warnings;
  if (err->pub.msg_code == JWRN_JPEG_EOF) err->saw_premature_end = true;
  char text[JMSG_LENGTH_MAX];
  (*err->pub.format_message)(cinfo, text);
  KeepWarning(err, text);
}

// DCT processes allow 8- and 12-bit samples; any other precision is damage.
bool IsTwelveBit(const JpegErrorManager& err) {
  return err.code == JERR_BAD_PRECISION && err.pub.msg_parm.i[0] == 12;
}

bool IsLosslessProcess(int sof_marker) {
  // SOF3, SOF7, SOF11 and SOF15 are the lossless processes.
  return (sof_marker & 0x03) == 0x03;
}

ErrorKind KindOf(const JpegErrorManager& err) {
  switch (err.code) {
    case JERR_BAD_PRECISION:
      return IsTwelveBit(err) ? ErrorKind::Unsupported : ErrorKind::Malformed;
    case JERR_SOF_UNSUPPORTED:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_NOTIMPL:
    case JERR_NOT_COMPILED:
      return ErrorKind::Unsupported;
    case JERR_INPUT_EMPTY:
    case JERR_INPUT_EOF:
      return ErrorKind::Truncated;
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
    case JERR_IMAGE_TOO_BIG:
    case kJpegOverBudget:
    case JERR_WIDTH_OVERFLOW:
      return ErrorKind::TooLarge;
    default:
      // libjpeg pads a cut-off file with an end marker and warns; whatever it
      // then trips over is a consequence of the missing data.
      return err.saw_premature_end ? ErrorKind::Truncated : ErrorKind::Malformed;
  }
}

// libjpeg's text, except where ours says more to someone who is not a JPEG expert.
std::string DescriptionOf(const JpegErrorManager& err) {
  // This libjpeg-turbo is built for 8-bit lossy JPEG only.
  if (IsTwelveBit(err)) return "12-bit samples are not supported";
  if (err.code == JERR_SOF_UNSUPPORTED && IsLosslessProcess(err.pub.msg_parm.i[0])) {
    char text[64];
    std::snprintf(text, sizeof text, "lossless JPEG (SOF type 0x%02x) is not supported",
                  err.pub.msg_parm.i[0]);
    return text;
  }
  // libjpeg asks for a backing store when its working memory would pass
  // max_memory_to_use; this build has none.
  if (err.code == JERR_NO_BACKING_STORE) {
    return "decoding it needs more than " + std::to_string(kJpegMaxMemory >> 20) +
           " MiB of working memory";
  }
  if (err.code == kJpegTooManyScans) {
    return std::string(err.message) + " (a damaged progressive file)";
  }
  if (KindOf(err) == ErrorKind::Truncated && err.saw_premature_end) {
    return std::string(err.message) + " (the file ends early)";
  }
  return err.message;
}

}  // namespace

jpeg_error_mgr* InitJpegErrors(JpegErrorManager* err, Warnings* warnings) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = ExitWithError;
  err->pub.emit_message = EmitMessage;
  err->code = 0;
  err->message[0] = '\0';
  err->saw_premature_end = false;
  err->step = "header";
  err->warnings = warnings;
  return &err->pub;
}

void FailJpeg(j_common_ptr cinfo, int code, const char* message) {
  JpegErrorManager* err = ManagerOf(cinfo);
  err->code = code;
  std::snprintf(err->message, sizeof err->message, "%s", message);
  std::longjmp(err->jump, 1);
}

Error JpegError(const JpegErrorManager& err, const std::string& file) {
  return Error(KindOf(err),
               "JPEG: " + std::string(err.step) + ": " + DescriptionOf(err) + ": " + file);
}

}  // namespace zavo
