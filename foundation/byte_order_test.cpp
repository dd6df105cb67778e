#include "byte_order.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

const void* PageOf(const void* address) {
  return reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(address) & ~(PageSize() - 1));
}

// Whether the page holding `address` is mapped; asks without allocating, so
// nothing can be mapped there meanwhile.
bool IsMapped(const void* address) {
  unsigned char resident;
  if (mincore(const_cast<void*>(PageOf(address)), PageSize(), &resident) == 0) return true;
  EXPECT_EQ(errno, ENOMEM);
  return false;
}

// The protection of the mapping that holds `address`, as the system lists
// it ("r-xp"); "" when none holds it.
std::string ProtectionAt(const void* address) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  FILE* maps = fopen("/proc/self/maps", "r");
  if (!maps) return "";
  std::string found;
  char line[512];
  while (found.empty() && fgets(line, sizeof line, maps)) {
    unsigned long start, end;
    char protection[5];
    if (sscanf(line, "%lx-%lx %4s", &start, &end, protection) == 3 && start <= at && at < end) found = protection;
  }
  fclose(maps);
  return found;
}

TEST(ByteOrderTest, Swap32ReversesEachWordAndTwiceRestores) {
  alignas(16) unsigned char bytes[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  uint32_t words[2];
  memcpy(words, bytes, sizeof words);
  ZpSwapBytes32(words, 2);
  const unsigned char swapped[8] = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55};
  EXPECT_EQ(memcmp(words, swapped, 8), 0);
  ZpSwapBytes32(words, 2);
  EXPECT_EQ(memcmp(words, bytes, 8), 0);
}

// Every count up to 40 at every byte offset within a 16-byte line must give
// what swapping each word by itself gives; the bytes around stay untouched.
template <typename Word>
void CheckAgainstPlainLoop(void (*swap)(Word*, unsigned)) {
  constexpr unsigned kMaxCount = 40;
  for (unsigned offset = 0; offset < 16; ++offset) {
    for (unsigned count = 0; count <= kMaxCount; ++count) {
      alignas(16) unsigned char area[16 + kMaxCount * sizeof(Word) + 16];
      for (size_t i = 0; i < sizeof area; ++i) area[i] = static_cast<unsigned char>(i * 7 + 3);
      unsigned char expected[sizeof area];
      memcpy(expected, area, sizeof area);
      for (unsigned w = 0; w < count; ++w) {
        unsigned char* word = expected + offset + w * sizeof(Word);
        for (size_t b = 0; b < sizeof(Word) / 2; ++b) std::swap(word[b], word[sizeof(Word) - 1 - b]);
      }
      swap(reinterpret_cast<Word*>(area + offset), count);
      ASSERT_EQ(memcmp(area, expected, sizeof area), 0)
          << sizeof(Word) * 8 << "-bit words, offset " << offset << ", count " << count;
    }
  }
}

TEST(ByteOrderTest, EveryWidthMatchesThePlainLoopAtAnyOffsetAndCount) {
  CheckAgainstPlainLoop<uint16_t>(ZpSwapBytes16);
  CheckAgainstPlainLoop<uint32_t>(ZpSwapBytes32);
  CheckAgainstPlainLoop<uint64_t>(ZpSwapBytes64);
}

TEST(ByteOrderTest, ExecutableBlockCarriesHeaderAndRunsItsCode) {
  // x86-64: mov eax, 42; ret
  const unsigned char code[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3};
  void* block = ZpAllocExecutable(sizeof code, code);
  ASSERT_NE(block, nullptr);
  const char* bytes = static_cast<const char*>(block);
  EXPECT_EQ(memcmp(bytes - 8, "zpn_exec", 8), 0);
  uint64_t total;
  memcpy(&total, bytes - 16, sizeof total);
  EXPECT_EQ(total, sizeof code + 16);
  EXPECT_EQ(memcmp(block, code, sizeof code), 0);
  // The header starts the mapping, which can be run but not written.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes - 16) % PageSize(), 0u);
  EXPECT_EQ(ProtectionAt(block), "r-xp");
  auto function = reinterpret_cast<int (*)()>(block);
  EXPECT_EQ(function(), 42);
  ZpFreeExecutable(block);
  EXPECT_FALSE(IsMapped(bytes - 16));
}

TEST(ByteOrderTest, FreeIgnoresNullAndForeignPointers) {
  ZpFreeExecutable(nullptr);
  alignas(16) char foreign[64] = {};
  ZpFreeExecutable(foreign + 16);  // no magic in front: nothing is unmapped
  foreign[16] = 1;
  EXPECT_EQ(foreign[16], 1);
  // A mapping of our own whose first bytes read like a header but for the
  // magic's last byte: freeing it would unmap the page.
  void* page = mmap(nullptr, PageSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  uint64_t length = PageSize();
  memcpy(page, &length, sizeof length);
  memcpy(static_cast<char*>(page) + 8, "zpn_exeX", 8);
  ZpFreeExecutable(static_cast<char*>(page) + 16);
  EXPECT_TRUE(IsMapped(page));
  munmap(page, PageSize());
}

}  // namespace
