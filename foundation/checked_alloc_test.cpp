#include "checked_alloc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>

TEST(CheckedAllocTest, ReturnsUsableBlocks) {
  char* block = static_cast<char*>(ZpCheckedMalloc(16));
  std::memset(block, 'x', 16);
  std::free(block);
  int* zeros = static_cast<int*>(ZpCheckedCalloc(8, sizeof(int)));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(zeros[i], 0);
  std::free(zeros);
  std::free(ZpCheckedMalloc(0));
}

// The sanitizers' allocators report impossible sizes themselves before ours
// can.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(CheckedAllocDeathTest, ExhaustionAbortsWithAMessage) {
  EXPECT_DEATH(ZpCheckedMalloc(SIZE_MAX - 16), "fatal: out of memory \\([0-9]+ bytes\\)");
  EXPECT_DEATH(ZpCheckedCalloc(SIZE_MAX / 2, 4), "fatal: out of memory");
}
#endif

TEST(CheckedAllocTest, StrdupCopiesTheText) {
  char* copy = ZpCheckedStrdup("wood.tif");
  EXPECT_STREQ("wood.tif", copy);
  std::free(copy);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace {
[[noreturn]] void ExitQuietly() {
  std::fputs("handled\n", stderr);
  std::_Exit(1);
}
}  // namespace

TEST(CheckedAllocDeathTest, ExhaustionCallsTheNewHandler) {
  EXPECT_EXIT(
      {
        std::set_new_handler(ExitQuietly);
        ZpCheckedMalloc(SIZE_MAX - 16);
      },
      ::testing::ExitedWithCode(1), "^handled\n$");
}
#endif
