#include "arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool AllZero(const unsigned char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(LargeBlocks, SmallAndHugeBlocksAreZeroFilledWhenAskedAndWritableToTheEnd) {
  for (size_t size : {size_t{1}, size_t{4096}, (size_t{2} << 20) - 1, size_t{2} << 20,
                      (size_t{5} << 20) + 3}) {
    auto* block = static_cast<unsigned char*>(ZpAllocateLarge(size, true));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, size)) << size;
    block[0] = 1;
    block[size - 1] = 2;
    if (size >= (size_t{2} << 20)) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (size_t{2} << 20), 0u) << size;
    }
    ZpFreeLarge(block);
  }
  ZpFreeLarge(ZpAllocateLarge(100, false));
  ZpFreeLarge(nullptr);
}

TEST(Arena, PiecesAreAlignedApartAndStayValidAcrossBlocks) {
  ZpArena arena;
  std::vector<std::pair<char*, size_t>> pieces;
  // Enough to fill several blocks, with one piece larger than any block yet.
  for (size_t i = 0; i < 20000; ++i) {
    size_t alignment = size_t{1} << (i % 5);
    size_t size = i == 777 ? (size_t{3} << 20) : 1 + i % 61;
    char* p = static_cast<char*>(arena.Allocate(size, alignment));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u);
    std::memset(p, static_cast<int>(i & 0xFF), size);
    pieces.emplace_back(p, size);
  }
  for (size_t i = 0; i < pieces.size(); ++i) {
    auto [p, size] = pieces[i];
    ASSERT_EQ(static_cast<unsigned char>(p[0]), i & 0xFF) << i;
    ASSERT_EQ(static_cast<unsigned char>(p[size - 1]), i & 0xFF) << i;
  }
  EXPECT_GE(arena.BytesReserved(), size_t{3} << 20);
}

TEST(Arena, CopiedTextsEndInANul) {
  ZpArena arena;
  EXPECT_STREQ(arena.CopyText("/tex/wood.tif", 13), "/tex/wood.tif");
  EXPECT_STREQ(arena.CopyText("abc", 0), "");
  std::string bytes("a\0b", 3);
  char* copy = arena.CopyText(bytes.data(), bytes.size());
  EXPECT_EQ(std::string(copy, 4), std::string("a\0b\0", 4));
  EXPECT_GT(arena.BytesReserved(), 0u);
}

}  // namespace
