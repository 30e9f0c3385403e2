// How a reader says that a read of its file failed, the same for every input
// (pictures, settings, modules): a read the system refused in the system's
// own words, and a file cut short only when it really is shorter than it was
// when it was opened. The program's launcher links this too, so it needs
// nothing else of the core.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"

namespace zavo {

// "cannot read PATH: Input/output error", for a read that failed with `error_number`.
Error ReadRefusedError(const std::string& path, int error_number);

// The error for a file that shrank under a reader: another program cut it short.
Error FileCutShortError(const std::string& path);

// Why a read of `fd` (the file `path`, `size_when_opened` bytes long when it
// was opened) came back empty before that size: the file got shorter, or,
// while it keeps its size, the system gave fewer bytes than it holds.
Error ReadEndedEarlyError(int fd, uint64_t size_when_opened, const std::string& path);

}  // namespace zavo
