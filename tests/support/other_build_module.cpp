// Planted as the core or a module (libzavo_core.so, zavo_tiff.so,
// zavo_window.so) in a copy of the program: a file left from another build,
// whose entries name a build of their own and hand over nothing.
namespace {
constexpr const char* kOtherBuild = "0.9.0-another";
}

extern "C" {
void* zavo_core(const char** build) noexcept { return *build = kOtherBuild, nullptr; }
void* zavo_tiff_codec(const char** build) noexcept { return *build = kOtherBuild, nullptr; }
void* zavo_window_module(const char** build) noexcept { return *build = kOtherBuild, nullptr; }
}
