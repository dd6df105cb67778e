#include "directory_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"

namespace {

using Answer = DirectoryListing::Answer;

TEST(DirectoryListing, AnswersForTheNamesItHoldsAndLeavesLinksToTheSystem) {
  ZpTestDir dir;
  dir.WriteFile("wood.tif", "x");
  std::filesystem::create_directory(dir / "sub");
  ASSERT_EQ(symlink("wood.tif", (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  DirectoryListing listing;
  ASSERT_TRUE(listing.Read(dir.Path(), 100));
  EXPECT_EQ(listing.Size(), 5u);
  struct Case {
    const char* name;
    Answer answer;
  } cases[] = {
      {"wood.tif", Answer::kPresent}, {"sub", Answer::kPresent},   {"pipe", Answer::kPresent},
      {"Wood.tif", Answer::kMissing}, {"wood.ti", Answer::kMissing}, {"wood.tiff", Answer::kMissing},
      {"link", Answer::kAsk},         {"dangling", Answer::kAsk},  {"", Answer::kAsk},
      {".", Answer::kAsk},            {"..", Answer::kAsk},
  };
  for (const Case& c : cases) EXPECT_EQ(listing.Find(c.name), c.answer) << c.name;
  EXPECT_EQ(listing.Find(std::string_view("wood.tif\0x", 10)), Answer::kAsk);
}

TEST(DirectoryListing, RefusesWhatItCannotListWhole) {
  ZpTestDir dir;
  for (const char* name : {"a", "b", "c"}) dir.WriteFile(name, "x");
  DirectoryListing listing;
  EXPECT_FALSE(listing.Read(dir.Path(), 2));
  EXPECT_EQ(listing.Size(), 0u);
  EXPECT_TRUE(listing.Read(dir.Path(), 3));
  EXPECT_FALSE(DirectoryListing().Read(dir / "missing", 100));
  EXPECT_FALSE(DirectoryListing().Read(dir / "a", 100));  // a file
  // /proc lists no file system of the kinds trusted to answer.
  EXPECT_FALSE(DirectoryListing().Read("/proc/self", 1000));
}

TEST(DirectoryListing, TilesOfAPatternComeFromTheNamesThatMatchIt) {
  ZpTestDir dir;
  for (const char* name : {"wood.1001.tif", "wood.1999.tif", "wood.1002.tif", "wood.1000.tif",
                           "wood.2000.tif", "wood.100x.tif", "wood.1001.tif.bak", "oak.1001.tif",
                           "UDIM.1003.tif", "1004UDIM.tif", "a1001b1002"}) {
    dir.WriteFile(name, "x");
  }
  DirectoryListing listing;
  ASSERT_TRUE(listing.Read(dir.Path(), 100));
  using Tiles = std::vector<uint16_t>;
  EXPECT_EQ(listing.Tiles("wood.UDIM.tif"), (Tiles{1001, 1002, 1999}));
  EXPECT_EQ(listing.Tiles("oak.UDIM.tif"), (Tiles{1001}));
  EXPECT_EQ(listing.Tiles("pine.UDIM.tif"), Tiles{});
  // Only the first "UDIM" of a pattern is a tile's place.
  EXPECT_EQ(listing.Tiles("UDIM.UDIM.tif"), Tiles{});
  EXPECT_EQ(listing.Tiles("UDIMUDIM.tif"), (Tiles{1004}));
  EXPECT_EQ(listing.Tiles("aUDIMb1002"), (Tiles{1001}));
  EXPECT_EQ(listing.Tiles("a1001bUDIM"), (Tiles{1002}));
}

}  // namespace
