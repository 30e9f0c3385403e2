// The program is a launcher (main.cpp) and its core, libzavo_core.so beside
// it. The launcher loads the core itself, by absolute path and only once the
// core passes the modules' trust checks, instead of naming it as a library
// the dynamic loader finds: the loader would take it unchecked from a folder
// it learns from /proc, and without /proc the program would not start at
// all, with nothing of ours to say why.
#pragma once

namespace zavo {

// The core's one C entry: runs the add-in with the process's arguments and
// returns its exit status. `program_folder` is the launcher's folder,
// resolved and ending in "/", where the modules and the settings template
// are. Nothing is thrown out of it.
using CoreEntry = int (*)(int argc, char** argv, const char* program_folder) noexcept;
inline constexpr const char* kCoreFile = "libzavo_core.so";
inline constexpr const char* kCoreEntry = "zavo_main";

}  // namespace zavo

extern "C" int zavo_main(int argc, char** argv, const char* program_folder) noexcept;
