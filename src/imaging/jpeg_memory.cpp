// libjpeg takes its large buffers through jpeg_get_large and gives them back
// through jpeg_free_large: the replaceable system layer of its memory manager
// (jmemsys.h in its sources). The program defines both and exports them, so
// the dynamic linker binds libjpeg's calls here. The encoder's buffer of the
// whole picture's coefficients, which optimised tables need (60 MB at 20 MP),
// then comes in huge pages: about 30 page faults where malloc's 4 KiB pages
// cost 15,000, a fifth of an export's time on a virtual machine.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "imaging/image.h"

namespace {

// Ahead of each block: how it was allocated. 64 bytes keep libjpeg's
// alignment of what follows.
struct LargeBlock {
  size_t mapped;  // bytes mapped in huge pages; 0 for malloc
};
constexpr size_t kBlockHeader = 64;

#ifdef ZAVO_SANITIZED
constexpr size_t kMapFrom = SIZE_MAX;  // AddressSanitizer guards malloc's blocks
#else
constexpr size_t kMapFrom = size_t{2} << 20;
#endif

}  // namespace

extern "C" {

void* jpeg_get_large(j_common_ptr /*cinfo*/, size_t size) {
  if (size > SIZE_MAX - kBlockHeader) return nullptr;
  size_t mapped = 0;
  void* memory = size + kBlockHeader >= kMapFrom
                     ? zavo::MapInHugePages(size + kBlockHeader, &mapped)
                     : std::malloc(size + kBlockHeader);
  if (memory == nullptr) return nullptr;
  static_cast<LargeBlock*>(memory)->mapped = mapped;
  return static_cast<char*>(memory) + kBlockHeader;
}

void jpeg_free_large(j_common_ptr /*cinfo*/, void* object, size_t /*size*/) {
  if (object == nullptr) return;
  void* memory = static_cast<char*>(object) - kBlockHeader;
  const size_t mapped = static_cast<LargeBlock*>(memory)->mapped;
  if (mapped > 0) {
    ::munmap(memory, mapped);
  } else {
    std::free(memory);
  }
}

}  // extern "C"
