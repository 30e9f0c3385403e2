// The program is a launcher (main.cpp) and its core, libzavo_core.so beside
// it. The launcher loads the core itself, by absolute path and only once the
// core passes the modules' trust checks, instead of naming it as a library
// the dynamic loader finds: the loader would take it unchecked from a folder
// it learns from /proc, and without /proc the program would not start at
// all, with nothing of ours to say why.
#pragma once

namespace zavo {

// The add-in's run: runs it with the process's arguments and returns its exit
// status. `program_folder` is the launcher's folder, resolved and ending in
// "/", where the modules and the settings template are. Nothing is thrown
// out of it.
using CoreMain = int (*)(int argc, char** argv, const char* program_folder) noexcept;

// The core's one C entry: names the build the core belongs to in `*build`
// (CheckSameBuild) and hands over its run, which the launcher calls only
// when that build is its own.
using CoreEntry = CoreMain (*)(const char** build) noexcept;
inline constexpr const char* kCoreFile = "libzavo_core.so";
inline constexpr const char* kCoreEntry = "zavo_core";

}  // namespace zavo

extern "C" zavo::CoreMain zavo_core(const char** build) noexcept;
