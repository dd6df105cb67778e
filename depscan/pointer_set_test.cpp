#include "pointer_set.h"

#include <gtest/gtest.h>

#include <vector>

TEST(PointerSet, EachAddressIsNewOnceAcrossGrowth) {
  std::vector<int> values(5000);
  PointerSet set;
  for (const int& v : values) EXPECT_TRUE(set.Insert(&v));
  for (const int& v : values) EXPECT_FALSE(set.Insert(&v));
  EXPECT_EQ(values.size(), set.size());
  EXPECT_FALSE(set.Insert(nullptr));

  set.Clear();
  EXPECT_EQ(0u, set.size());
  EXPECT_TRUE(set.Insert(&values[7]));
  EXPECT_FALSE(set.Insert(&values[7]));
}
