#include "dependency_kind.h"

#include <gtest/gtest.h>

#include <string>

TEST(DependencyKindPrefix, FoundKindsHaveTheirLetter) {
  EXPECT_STREQ("s", DependencyKindPrefix(1));
  EXPECT_STREQ("t", DependencyKindPrefix(2));
  EXPECT_STREQ("o", DependencyKindPrefix(4));
  EXPECT_STREQ("a", DependencyKindPrefix(8));
  EXPECT_STREQ("p", DependencyKindPrefix(16));
}

TEST(DependencyKindPrefix, MissingKindsZeroAndMasksAreBang) {
  for (int kind : {32, 64, 128, 256, 0, 3, 511, -1}) {
    EXPECT_STREQ("!", DependencyKindPrefix(kind)) << "kind " << kind;
  }
}
