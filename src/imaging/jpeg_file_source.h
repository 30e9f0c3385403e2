// libjpeg's input straight from an open file, read a piece at a time. Memory
// stays at one piece however long the file is (a picture followed by
// gigabytes of anything costs nothing: libjpeg stops reading at its end), and
// a read that fails, or a file that another program cuts short under us,
// ends the decode with an error instead of a gray-filled picture or a signal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "platform/error.h"

namespace zavo {

struct JpegFileSource {
  jpeg_source_mgr pub;  // first, so libjpeg's src pointer is a pointer to us
  int fd;
  uint64_t size;      // the file's size when it was opened
  uint64_t position;  // where the next read starts
  JOCTET* buffer;
  size_t capacity;   // of `buffer`
  int read_error;    // errno of a failed read, or 0
  bool ended_early;  // a read came back empty before `size`
};

// Makes `source` the input of `cinfo` (created, header not yet read). `fd`
// stays the caller's and must stay open until the decompressor is destroyed.
void UseJpegFileSource(j_decompress_ptr cinfo, JpegFileSource* source, int fd, uint64_t size);

// Why the decode failed, when it failed because of the file itself.
std::optional<Error> JpegFileSourceFailure(const JpegFileSource& source, const std::string& path);

}  // namespace zavo
