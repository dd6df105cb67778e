#include "dependency_set.h"

#include <gtest/gtest.h>

#include <memory>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::set<std::string> Members(const DependencySet& set) {
  std::set<std::string> members;
  set.ForEach([&](std::string_view path) {
    EXPECT_EQ(path.data()[path.size()], '\0');
    members.emplace(path);
  });
  return members;
}

TEST(DependencySet, KeepsEachPathOnceWhateverItsSpelling) {
  DependencySet set;
  EXPECT_FALSE(set.Contains("/tex/a.tif"));
  EXPECT_TRUE(set.Insert("/tex/a.tif"));
  std::string again = "/tex/a.tif";  // equal text at another address
  EXPECT_FALSE(set.Insert(again));
  EXPECT_TRUE(set.Insert("/tex/a.tiff"));
  EXPECT_TRUE(set.Insert(std::string_view("/tex/a.tif\0x", 12)));  // the NUL is part of it
  EXPECT_TRUE(set.Insert(""));
  EXPECT_EQ(set.Size(), 4u);
  EXPECT_TRUE(set.Contains(again));
  EXPECT_FALSE(set.Contains("/tex/a.ti"));
  EXPECT_EQ(Members(set), (std::set<std::string>{"", "/tex/a.tif", "/tex/a.tiff",
                                                  std::string("/tex/a.tif\0x", 12)}));
}

TEST(DependencySet, EveryPathIsFoundAgainAfterGrowing) {
  DependencySet set;
  std::set<std::string> expected;
  // Short and long texts: the key hash changes function at 29 bytes.
  for (int i = 0; i < 100000; ++i) {
    std::string path = (i % 2 ? "/s/" : "/shows/s1/tex/wood/oak/pine_") + std::to_string(i);
    EXPECT_TRUE(set.Insert(path, DependencySet::Hash(path)));
    expected.insert(path);
  }
  for (const std::string& path : expected) ASSERT_TRUE(set.Contains(path)) << path;
  for (const std::string& path : expected) ASSERT_FALSE(set.Insert(path)) << path;
  EXPECT_EQ(set.Size(), expected.size());
  EXPECT_EQ(Members(set), expected);
  EXPECT_TRUE(Members(DependencySet()).empty());
}

std::vector<std::string> SortedMembers(DependencySet& set) {
  std::vector<std::string> members;
  set.ForEachSorted([&](std::string_view path) {
    EXPECT_EQ(path.data()[path.size()], '\0');
    members.emplace_back(path);
  });
  return members;
}

// Paths that share long prefixes, that are prefixes of one another, that
// differ in case, in bytes above 0x7F or only after a NUL.
std::vector<std::string> AwkwardPaths() {
  std::mt19937 random(7);
  const std::string shared = "/shows/s1/" + std::string(600, 'd') + "/";
  const char* parts[] = {"a", "A", "ab", "b", "\xE9t\xE9", "wood", "wood/", "w", "z\x80", "tex"};
  std::vector<std::string> paths = {"", "/", "/shows", "C:\\shows\\x.tif",
                                    std::string("a\0", 2), std::string("a\0b", 3), "a"};
  for (int i = 0; i < 3000; ++i) {
    std::string path = i % 3 ? "/shows/s1/tex/" : shared;
    for (int depth = random() % 5; depth >= 0; --depth) path += parts[random() % 10];
    path += std::to_string(random() % 50);
    paths.push_back(path);
  }
  return paths;
}

TEST(DependencySet, SortsBytewiseAndStaysASetAfterwards) {
  std::vector<std::string> paths = AwkwardPaths();
  DependencySet set;
  for (const std::string& path : paths) set.Insert(path);
  std::vector<std::string> expected(paths);
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  EXPECT_EQ(SortedMembers(set), expected);
  EXPECT_EQ(SortedMembers(set), expected);  // sorted twice in a row

  // Lookups during a sorted walk, and lookups and insertions after it, see
  // every path.
  size_t walked = 0;
  set.ForEachSorted([&](std::string_view path) {
    EXPECT_TRUE(set.Contains(path));
    EXPECT_FALSE(set.Contains(std::string(path) + "~"));
    ++walked;
  });
  EXPECT_EQ(walked, expected.size());
  for (const std::string& path : expected) ASSERT_TRUE(set.Contains(path)) << path;
  EXPECT_FALSE(set.Insert(expected[10]));
  EXPECT_TRUE(set.Insert("/shows/s1/tex/new"));
  expected.insert(std::lower_bound(expected.begin(), expected.end(), "/shows/s1/tex/new"),
                  "/shows/s1/tex/new");
  EXPECT_EQ(SortedMembers(set), expected);
  EXPECT_TRUE(SortedMembers(*std::make_unique<DependencySet>()).empty());
}

}  // namespace
