#include "checked_alloc.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void OutOfMemory(size_t count, size_t size) {
  if (count == 1) {
    std::fprintf(stderr, "fatal: out of memory (%zu bytes)\n", size);
  } else {
    std::fprintf(stderr, "fatal: out of memory (%zu x %zu bytes)\n", count, size);
  }
  std::abort();
}

}  // namespace

void* ZpCheckedMalloc(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) OutOfMemory(1, size);
  return block;
}

void* ZpCheckedCalloc(size_t count, size_t size) {
  void* block = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (block == nullptr) OutOfMemory(count, size);
  return block;
}
