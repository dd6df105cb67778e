#include "checked_alloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

[[noreturn]] void OutOfMemory(size_t count, size_t size) {
  if (count == 1) {
    std::fprintf(stderr, "fatal: out of memory (%zu bytes)\n", size);
  } else {
    std::fprintf(stderr, "fatal: out of memory (%zu x %zu bytes)\n", count, size);
  }
  std::abort();
}

// Tries allocate until it succeeds, calling the new-handler between tries
// as operator new does.
template <typename Allocate>
void* AllocateOrHandle(size_t count, size_t size, Allocate allocate) {
  for (;;) {
    if (void* block = allocate()) return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) OutOfMemory(count, size);
    handler();
  }
}

}  // namespace

void* ZpCheckedMalloc(size_t size) {
  return AllocateOrHandle(1, size, [size] { return std::malloc(size == 0 ? 1 : size); });
}

void* ZpCheckedCalloc(size_t count, size_t size) {
  return AllocateOrHandle(count, size, [count, size] {
    return std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  });
}

char* ZpCheckedStrdup(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(ZpCheckedMalloc(size));
  std::memcpy(copy, text, size);
  return copy;
}
