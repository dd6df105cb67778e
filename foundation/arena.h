// Memory for containers that hold many small pieces for their whole life:
// a bump arena released at once, and large blocks asked to be backed by
// huge pages, where a table the size of a listing spends its time on TLB
// misses.
//
// Out of memory: as ZpCheckedMalloc, one line on stderr and an abort.
#pragma once

#include <cstddef>

// Allocates size bytes (zero-filled when zeroed). Blocks of 2 MiB and more
// are aligned to 2 MiB and advised for transparent huge pages. Never null.
void* ZpAllocateLarge(size_t size, bool zeroed);
// Releases a block of ZpAllocateLarge; null is ignored.
void ZpFreeLarge(void* block);

// Hands out pieces of growing blocks; nothing is freed before the arena is
// destroyed, when every block goes at once. Not thread-safe: callers that
// share one serialise access themselves.
class ZpArena {
 public:
  ZpArena() = default;
  ~ZpArena();
  ZpArena(const ZpArena&) = delete;
  ZpArena& operator=(const ZpArena&) = delete;

  // size bytes at a multiple of alignment (a power of two up to 16),
  // uninitialised. Never null.
  void* Allocate(size_t size, size_t alignment);

  // A copy of length bytes followed by a NUL, byte-aligned.
  char* CopyText(const char* text, size_t length);

  // Gives every block back; the arena starts again empty.
  void Release();

  // Bytes of the blocks taken so far.
  size_t BytesReserved() const { return reserved_; }

 private:
  struct Block {
    Block* previous;
  };
  void NewBlock(size_t atLeast);

  Block* last_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  size_t nextBlockSize_ = 4096;
  size_t reserved_ = 0;
};
