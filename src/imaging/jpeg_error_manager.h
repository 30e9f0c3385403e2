// How libjpeg's errors and warnings reach zavo. libjpeg reports a fatal error
// by calling error_exit, which must not return; ours records the message and
// longjmps back to the function that armed `jump`. Every such function keeps
// no objects with destructors alive between its setjmp and the libjpeg calls,
// so the jump skips nothing. Plain data only: it lives inside libjpeg's structs.
#pragma once

#include <csetjmp>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "imaging/progress.h"
#include "platform/error.h"

namespace zavo {

struct JpegErrorManager {
  jpeg_error_mgr pub;  // first, so libjpeg's err pointer is a pointer to us
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];  // libjpeg's text of the fatal error
  int code;                       // its msg_code, or kJpegTooManyScans
  bool saw_premature_end;         // "Premature end of JPEG file" came before it
  const char* step;               // the step under way: "header", "scan", "finish", "write"
  Warnings* warnings;             // distinct warning texts, or null to drop them
};

// Our own fatal errors, outside libjpeg's message codes.
inline constexpr int kJpegTooManyScans = -1;  // a damaged progressive file
inline constexpr int kJpegOverBudget = -2;    // more work than the file's bytes pay for

// Fills `err` and returns what libjpeg's err field wants. Warnings go to
// `warnings`, each distinct text once.
jpeg_error_mgr* InitJpegErrors(JpegErrorManager* err, Warnings* warnings);

// Ends the libjpeg call in progress with one of our own errors, as
// error_exit does with libjpeg's.
[[noreturn]] void FailJpeg(j_common_ptr cinfo, int code, const char* message);

// The Error for the fatal error recorded in `err`, naming the step and
// `file`: "JPEG: <step>: <what went wrong>: <file>".
Error JpegError(const JpegErrorManager& err, const std::string& file);

// Arms the error exit and runs `step`; false when libjpeg failed, with the
// message in `err`. `step` and all it calls must keep no object with a
// destructor alive across a libjpeg call: the longjmp would skip it.
template <typename Step>
bool RunJpegStep(JpegErrorManager* err, Step step) {
  if (setjmp(err->jump) != 0) return false;
  step();
  return true;
}

}  // namespace zavo
