#include "existence_cache.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace {

class ExistenceCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "a/deep");
    std::filesystem::create_directories(dir / "bb");
    dir.WriteFile("a/file", "x");
    dir.WriteFile("a/deep/file", "x");
    dir.WriteFile("bb/file", "x");
    dir.WriteFile("plain", "x");
    std::filesystem::create_directory_symlink("a", dir / "la");
    std::filesystem::create_directory_symlink("nowhere", dir / "dangling");
  }

  ZpTestDir dir;
};

TEST_F(ExistenceCacheTest, AnswersAsTheFileSystemDoes) {
  struct Case {
    const char* relative;
    bool exists;
  } cases[] = {
      {"a/file", true},       {"a", true},           {"a/", true},
      {"a//file", true},      {"a/none", false},     {"b/x/y/z.tif", false},
      {"b/new/file", false},  {"bb/file", true},     {"b", false},
      {"b/x", false},         {"b/file", false},     {"a/deep/file", true},
      {"a/deep/none/x", false}, {"plain", true},     {"plain/x", false},
      // Steps are resolved by the system, through links too.
      {"la/file", true},      {"la/deep/file", true}, {"la/../plain", true},
      {"a/deep/../file", true}, {"gone/../plain", false}, {"a/file/../file", false},
      {"dangling", false},    {"dangling/x", false},  {"la/none/../file", false},
  };
  ExistenceCache cache;
  // Twice: once learning, once from what was learnt.
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : cases) {
      EXPECT_EQ(c.exists, cache.Exists(dir / c.relative)) << c.relative << " round " << round;
    }
  }
  // Deep and long names, learnt from or simply asked.
  auto repeat = [](const std::string& part, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += part;
    return text;
  };
  EXPECT_TRUE(cache.Exists(dir / ("a/" + repeat("./", 300) + "file")));
  EXPECT_TRUE(cache.Exists(dir / ("a/" + repeat("./", 600) + "file")));
  EXPECT_FALSE(cache.Exists(dir / ("a/" + repeat("x/", 300) + "file")));
  EXPECT_FALSE(cache.Exists(dir / ("gone/" + repeat("x/", 3000) + "file")));
  EXPECT_TRUE(cache.Exists(dir.Path()));
  EXPECT_FALSE(cache.Exists(""));
  EXPECT_TRUE(cache.Exists("/"));
}

TEST_F(ExistenceCacheTest, AsksAgainBelowExistingDirectoriesOnly) {
  ExistenceCache cache;
  EXPECT_FALSE(cache.Exists(dir / "a/later"));
  EXPECT_FALSE(cache.Exists(dir / "gone/later"));
  dir.WriteFile("a/later", "x");
  std::filesystem::create_directories(dir / "gone");
  dir.WriteFile("gone/later", "x");
  // A file that appears below a known directory is seen; a directory known
  // to be missing stays missing for the cache's life.
  EXPECT_TRUE(cache.Exists(dir / "a/later"));
  EXPECT_FALSE(cache.Exists(dir / "gone/later"));
  EXPECT_TRUE(ExistenceCache().Exists(dir / "gone/later"));
}

}  // namespace
