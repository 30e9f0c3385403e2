// What makes a module file fit to load: the checks OpenSSH (StrictModes) and
// GnuPG make of the files they trust, and an ELF header that the dynamic
// loader can map without reading past the file's end. The launcher (main.cpp)
// holds its own copy, to check the core before anything of it is loaded.
#pragma once

#include <string>

#include "platform/error.h"

namespace zavo {

// The module at `path` (absolute, in a resolved folder) passes when it is a
// regular file owned by root or the effective user and writable by no one
// else, in a folder owned by either and writable by no one else, and holds a
// shared object for the machine this program runs on, whole. Otherwise the
// error says what is wrong, naming the file or the folder. It never waits:
// a FIFO is refused, not opened for reading.
Result<void> CheckModuleFile(const std::string& path);

// The exported function `entry_name` of the module `file` in `folder` (the
// program's folder), once CheckModuleFile trusts it and it is loaded.
Result<void*> LoadModuleEntry(const std::string& folder, const char* file, const char* entry_name);

// Passes when `build`, what the entry of `module` (say "the TIFF codec
// module") named, is this program's own build; a module that names none
// (null) is of a build from before builds had names. Otherwise the error
// names both builds. A module of another build is used for nothing else:
// what it shares with the core may be laid out otherwise there.
Result<void> CheckSameBuild(const char* module, const char* build);

}  // namespace zavo
