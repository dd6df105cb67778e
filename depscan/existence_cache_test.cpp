#include "existence_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "file_utils.h"
#include <unistd.h>

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
  DiskKnowledge knowledge;
  ExistenceCache cache(knowledge);
  // Twice: once learning, once from what was learnt.
  for (int round = 0; round < 2; ++round) {
    cache.NewInput();
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

// A stamp taken a moment after its directory changed is not trusted: the
// tests wait until what they made lies before the clock's last tick.
void WaitUntilSettled(const std::string& path) {
  for (int i = 0; i < 400; ++i) {
    DirectoryStamp stamp;
    if (stamp.Take(path.c_str()) && stamp.reliable) return;
    usleep(5000);
  }
}

TEST_F(ExistenceCacheTest, WhatWasLearntAnswersAgainOnlyWhileItHolds) {
  DiskKnowledge knowledge;
  WaitUntilSettled(dir.Path());
  WaitUntilSettled(dir / "a");
  ExistenceCache cache(knowledge);
  // Enough names for the listing of a/ to be read, and a missing folder.
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(cache.Exists(dir / ("a/none" + std::to_string(i))));
  EXPECT_FALSE(cache.Exists(dir / "gone/later"));
  EXPECT_NE(knowledge.Listing(knowledge.Record((dir / "a").c_str(), (dir / "a").size())), nullptr);
  dir.WriteFile("a/later", "x");
  std::filesystem::create_directories(dir / "gone");
  dir.WriteFile("gone/later", "x");
  // Names read before the change: what was learnt answers for them.
  EXPECT_FALSE(cache.Exists(dir / "a/later"));
  EXPECT_FALSE(cache.Exists(dir / "gone/later"));
  // Names read after it, by this tracker or by another one of the run.
  cache.NewInput();
  EXPECT_TRUE(cache.Exists(dir / "a/later"));
  EXPECT_TRUE(cache.Exists(dir / "gone/later"));
  EXPECT_TRUE(ExistenceCache(knowledge).Exists(dir / "a/later"));
  std::filesystem::remove(dir / "a/later");
  std::filesystem::remove_all(dir / "gone");
  cache.NewInput();
  EXPECT_FALSE(cache.Exists(dir / "a/later"));
  EXPECT_FALSE(cache.Exists(dir / "gone/later"));
  EXPECT_TRUE(cache.Exists(dir / "a/file"));
}

// Names asked often enough for the directory's listing to answer, beside
// what the system says of each; and names without "/", in the working
// directory.
TEST_F(ExistenceCacheTest, ListingsAnswerAsTheFileSystemDoes) {
  std::filesystem::create_symlink("file", dir / "a/link");
  std::filesystem::create_symlink("none", dir / "a/dangling");
  std::filesystem::create_symlink("../plain", dir / "a/up");
  const char* names[] = {"file", "File", "deep", "link", "dangling", "up", "none", "",
                         ".", "..", "file/", "deep/file", "fil", "filex"};
  ZpChangeDirectory inside(dir / "a");
  WaitUntilSettled(dir / "a");
  DiskKnowledge knowledge;
  ExistenceCache cache(knowledge);
  for (int round = 0; round < 40; ++round) {
    if (round % 8 == 0) cache.NewInput();
    for (const char* name : names) {
      std::string path = dir / "a/" + name;
      ASSERT_EQ(cache.Exists(path), ZpFileExists(path.c_str())) << path << " round " << round;
      ASSERT_EQ(cache.Exists(name), ZpFileExists(name)) << name << " round " << round;
    }
  }
}

TEST_F(ExistenceCacheTest, TilesAreTheNumbersWhoseNamesExist) {
  std::filesystem::create_directories(dir / "t/1004");
  for (const char* name : {"t/w.1001.tif", "t/w.1999.tif", "t/w.1000.tif", "t/1004/w.tif",
                           "t/x_1002_UDIM"}) {
    dir.WriteFile(name, "x");
  }
  std::filesystem::create_symlink("w.1001.tif", dir / "t/w.1003.tif");
  std::filesystem::create_symlink("none", dir / "t/w.1005.tif");
  struct Case {
    const char* pattern;
    std::vector<int> tiles;
  } cases[] = {
      {"t/w.UDIM.tif", {1001, 1003, 1999}},
      {"t/UDIM/w.tif", {1004}},
      {"t/x_UDIM_UDIM", {1002}},
      {"t/none.UDIM.tif", {}},
      {"gone/w.UDIM.tif", {}},
      {"t/w.1001.tif/UDIM", {}},
  };
  WaitUntilSettled(dir / "t");
  for (int round = 0; round < 2; ++round) {
    DiskKnowledge knowledge;
    ExistenceCache cache(knowledge);
    for (const Case& c : cases) {
      std::string pattern = dir / c.pattern;
      if (round == 1) cache.Exists(pattern);  // the directory learnt first
      EXPECT_EQ(cache.ExistingTiles(pattern, pattern.find("UDIM")), c.tiles) << c.pattern;
    }
  }
}

}  // namespace
