#include "arena.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "checked_alloc.h"

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kLargestBlock = size_t{32} << 20;

// Kept right before the bytes handed out: how to give them back.
struct LargeHeader {
  size_t mappedBytes;  // 0: a malloc block starting at base
  void* base;
};

size_t RoundUp(size_t value, size_t multiple) { return (value + multiple - 1) & ~(multiple - 1); }

char* AlignUp(char* p, size_t alignment) {
  return reinterpret_cast<char*>(RoundUp(reinterpret_cast<uintptr_t>(p), alignment));
}

LargeHeader* HeaderOf(void* block) {
  return reinterpret_cast<LargeHeader*>(static_cast<char*>(block) - sizeof(LargeHeader));
}

void* FromHeap(size_t size, bool zeroed) {
  size_t total = size + sizeof(LargeHeader);
  void* base = zeroed ? ZpCheckedCalloc(1, total) : ZpCheckedMalloc(total);
  char* block = static_cast<char*>(base) + sizeof(LargeHeader);
  *HeaderOf(block) = LargeHeader{0, base};
  return block;
}

// A mapping with one page in front for the header and the block itself
// starting on a huge-page boundary; fresh mappings read as zeros.
void* Mapped(size_t size) {
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t length = RoundUp(size, page);
  size_t span = page + length + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  char* start = static_cast<char*>(raw);
  char* block = AlignUp(start + page, kHugePage);
  char* mapped = block - page;
  // Only the aligned part is kept: what lies before and after goes back.
  if (mapped > start) munmap(start, static_cast<size_t>(mapped - start));
  char* end = block + length;
  size_t tail = static_cast<size_t>(start + span - end);
  if (tail != 0) munmap(end, tail);
  madvise(block, length, MADV_HUGEPAGE);
  *HeaderOf(block) = LargeHeader{page + length, mapped};
  return block;
}

}  // namespace

void* ZpAllocateLarge(size_t size, bool zeroed) {
  if (size >= kHugePage) {
    if (void* block = Mapped(size)) return block;
  }
  return FromHeap(size, zeroed);  // also when no mapping could be made
}

void ZpFreeLarge(void* block) {
  if (!block) return;
  LargeHeader header = *HeaderOf(block);
  if (header.mappedBytes == 0) {
    std::free(header.base);
  } else {
    munmap(header.base, header.mappedBytes);
  }
}

ZpArena::~ZpArena() { Release(); }

void ZpArena::Release() {
  while (last_) {
    Block* previous = last_->previous;
    ZpFreeLarge(last_);
    last_ = previous;
  }
  next_ = end_ = nullptr;
  nextBlockSize_ = 4096;
  reserved_ = 0;
}

void ZpArena::NewBlock(size_t atLeast) {
  size_t size = nextBlockSize_;
  if (size < atLeast + sizeof(Block)) size = RoundUp(atLeast + sizeof(Block), 4096);
  Block* block = static_cast<Block*>(ZpAllocateLarge(size, false));
  block->previous = last_;
  last_ = block;
  next_ = reinterpret_cast<char*>(block + 1);
  end_ = reinterpret_cast<char*>(block) + size;
  reserved_ += size;
  if (nextBlockSize_ < kLargestBlock) nextBlockSize_ *= 2;
}

void* ZpArena::Allocate(size_t size, size_t alignment) {
  char* p = AlignUp(next_, alignment);
  if (!next_ || p > end_ || size > static_cast<size_t>(end_ - p)) {
    NewBlock(size + alignment);
    p = AlignUp(next_, alignment);
  }
  next_ = p + size;
  return p;
}

char* ZpArena::CopyText(const char* text, size_t length) {
  char* copy = static_cast<char*>(Allocate(length + 1, 1));
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}
