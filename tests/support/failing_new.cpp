// Preloaded (LD_PRELOAD): every operator new of ZAVO_FAIL_NEW_FROM bytes or
// more throws std::bad_alloc, in the program, its core and its modules alike.
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

size_t FailFrom() {
  static const size_t from = [] {
    const char* text = std::getenv("ZAVO_FAIL_NEW_FROM");
    return text != nullptr ? static_cast<size_t>(std::strtoull(text, nullptr, 10)) : SIZE_MAX;
  }();
  return from;
}

void* Allocate(size_t size) {
  if (size >= FailFrom()) throw std::bad_alloc();
  void* memory = std::malloc(size != 0 ? size : 1);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, size_t) noexcept { std::free(memory); }
