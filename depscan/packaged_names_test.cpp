#include "packaged_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "packaging_test_support.h"

namespace {

using PackagedNames = PackagedNamesTest;

void Name(const std::vector<DependencyTracker*>& trackers, TestOptions& options) {
  NamePackageContents(trackers, *options);
}

TEST_F(PackagedNames, FirstComeNamesAndNumberedClashes) {
  TestOptions options({});
  auto first = EmptyTracker("/scenes/one.rib");
  for (const char* path : {"/a/wood.tx", "/b/wood.tx", "/c/wood_1.tx", "/y/a.rib", "/t/noext",
                           "/u/noext", "/tx/lib.oso"})
    Record(first->textures, path);
  Record(first->streams, "/x/a.rib");
  Record(first->shaders, "/sh/lib.oso");
  auto second = EmptyTracker("/scenes/two.rib");
  Record(second->textures, "/b/wood.tx");
  Record(second->textures, "/d/wood.tx");
  Name({first.get(), second.get()}, options);

  const std::pair<const char*, const char*> expected[] = {
      {"/a/wood.tx", "wood.tx"},      // bytewise first keeps the name
      {"/c/wood_1.tx", "wood_1.tx"},  // named before the clashes are renamed
      {"/b/wood.tx", "wood_2.tx"},    // also in the second tracker: named once
      {"/d/wood.tx", "wood_3.tx"},
      {"/x/a.rib", "a.rib"},          // nested streams are named before textures
      {"/y/a.rib", "a_1.rib"},
      {"/t/noext", "noext"},
      {"/u/noext", "noext_1"},
      {"/tx/lib.oso", "lib.oso"},     // textures before shaders
      {"/sh/lib.oso", "lib_1.oso"},
  };
  for (const auto& [path, name] : expected) EXPECT_EQ(PackagedName(path), name) << path;
  uint64_t value;
  ASSERT_TRUE(PackagedNameTable.Find("/b/wood.tx", &value));
  EXPECT_STREQ(reinterpret_cast<const char*>(value), "${VRXDIR}/wood_2.tx");
  EXPECT_EQ(PackagedName("/scenes/missing.tx"), "");
}

TEST_F(PackagedNames, RootsKeepSubdirectoriesAndTheLastDotSplitsTheName) {
  TestOptions options({"-r", "/r", "-r", "/s"});
  auto tracker = EmptyTracker("/scenes/one.rib");
  Record(tracker->textures, "/r/lod.2/tex");
  Record(tracker->textures, "/s/lod.2/tex");
  Name({tracker.get()}, options);
  EXPECT_EQ(PackagedName("/r/lod.2/tex"), "lod.2/tex");
  EXPECT_EQ(PackagedName("/s/lod.2/tex"), "lod_1.2/tex");
}

// A name that climbs out of its root would put the copy outside the package.
TEST_F(PackagedNames, NamesBelowARootNeverClimbOutOfThePackage) {
  TestOptions options({"-r", "/shot"});
  auto tracker = EmptyTracker("/shot/one.rib");
  for (const char* path : {"/shot/../tex/a.tif", "/shot/x/../a.tif", "/shot/sub/b..c.tif",
                           "/shot/..\\c.tif"})
    Record(tracker->textures, path);
  Name({tracker.get()}, options);
  EXPECT_EQ(PackagedName("/shot/../tex/a.tif"), "a.tif");
  EXPECT_EQ(PackagedName("/shot/x/../a.tif"), "a_1.tif");
  EXPECT_EQ(PackagedName("/shot/sub/b..c.tif"), "sub/b..c.tif");
  EXPECT_EQ(PackagedName("/shot/..\\c.tif"), "c.tif");
}

TEST_F(PackagedNames, TopLevelStreamsGetNamesOfTheirOwnAfterTheDependencies) {
  TestOptions options({"-verbose"});
  auto first = EmptyTracker("/a/shot.rib");
  Record(first->streams, "/n/shot.rib");
  Record(first->streams, "/b/other.rib");
  auto second = EmptyTracker("/b/shot.rib");
  auto third = EmptyTracker("/b/other.rib");  // nested by the first: keeps that name
  testing::internal::CaptureStdout();
  Name({first.get(), second.get(), third.get()}, options);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\n#Packaging stream '/a/shot.rib' as 'shot_1.rib'\n"
            "\n#Packaging stream '/b/shot.rib' as 'shot_2.rib'\n"
            "\n#Packaging stream '/b/other.rib' as 'other.rib'\n");
  EXPECT_EQ(PackagedName("/n/shot.rib"), "shot.rib");
}

using Names = std::vector<std::pair<const char*, const char*>>;

// Packaged names of paths and packaged patterns of UDIM names.
void ExpectNames(const Names& names, const Names& patterns) {
  for (const auto& [path, name] : names) EXPECT_EQ(PackagedName(path), name) << path;
  for (const auto& [pattern, reference] : patterns)
    EXPECT_EQ(PackagedPattern(pattern), reference) << pattern;
}

// The tiles of a UDIM set share one rename, so that the renamed pattern
// still finds them all, and no file outside the set takes a name that a
// set's pattern stands for.
TEST_F(PackagedNames, UdimSetsAreNamedAsAWhole) {
  TestOptions options({});
  auto tracker = EmptyTracker("/scenes/one.rib");
  for (const char* path : {"/a/skin.1001.tif", "/a/skin.1002.tif", "/b/skin.1001.tif",
                           "/b/skin.1003.tif", "/c/skin.1005.tif", "/d/leaf.1004.tif",
                           "/e/leaf.1001.tif", "/u/1001/bark.tif", "/u/1002/bark.tif"})
    Record(tracker->textures, path);
  for (const char* pattern : {"/a/skin.UDIM.tif", "/b/skin.UDIM.tif", "/e/leaf.UDIM.tif",
                              "/u/UDIM/bark.tif", "/x/gone.UDIM.tif"})
    Record(tracker->udimPatterns, pattern);
  Name({tracker.get()}, options);
  ExpectNames(
      {
          {"/a/skin.1001.tif", "skin.1001.tif"},
          {"/a/skin.1002.tif", "skin.1002.tif"},
          {"/b/skin.1001.tif", "skin.1001_1.tif"},  // one tile clashes: all are renamed
          {"/b/skin.1003.tif", "skin.1003_1.tif"},
          {"/c/skin.1005.tif", "skin.1005_2.tif"},  // neither set's pattern may find it
          {"/d/leaf.1004.tif", "leaf.1004.tif"},
          {"/e/leaf.1001.tif", "leaf.1001_1.tif"},  // its pattern would find leaf.1004
          // "UDIM" in a folder that the name leaves out: the tile number goes
          // into the file name, so that the pattern still finds the tiles.
          {"/u/1001/bark.tif", "bark.1001.tif"},
          {"/u/1002/bark.tif", "bark.1002.tif"},
      },
      {
          {"/a/skin.UDIM.tif", "${VRXDIR}/skin.UDIM.tif"},
          {"/b/skin.UDIM.tif", "${VRXDIR}/skin.UDIM_1.tif"},
          {"/e/leaf.UDIM.tif", "${VRXDIR}/leaf.UDIM_1.tif"},
          {"/u/UDIM/bark.tif", "${VRXDIR}/bark.UDIM.tif"},
          {"/x/gone.UDIM.tif", ""},  // no tile on disk
      });
}

// With a root, a name keeps its folders, and the tiles with them.
TEST_F(PackagedNames, UdimSetsBelowARootKeepTheirFolders) {
  TestOptions options({"-r", "/shot"});
  auto tracker = EmptyTracker("/shot/one.rib");
  for (const char* path : {"/shot/./tex/skin.1001.tif", "/shot/./tex/skin.1002.tif",
                           "/shot/1001/bark.tif"})
    Record(tracker->textures, path);
  Record(tracker->udimPatterns, "/shot/./tex/skin.UDIM.tif");
  Record(tracker->udimPatterns, "/shot/UDIM/bark.tif");
  Name({tracker.get()}, options);
  ExpectNames({{"/shot/./tex/skin.1001.tif", "tex/skin.1001.tif"},
               {"/shot/./tex/skin.1002.tif", "tex/skin.1002.tif"},
               {"/shot/1001/bark.tif", "1001/bark.tif"}},
              {{"/shot/./tex/skin.UDIM.tif", "${VRXDIR}/tex/skin.UDIM.tif"},
               {"/shot/UDIM/bark.tif", "${VRXDIR}/UDIM/bark.tif"}});
}

// One file, one copy: names of one file (through a linked folder) share
// its packaged name, and are never a clash; another file of the name is.
TEST_F(PackagedNames, NamesOfOneFileShareOneCopy) {
  ZpTestDir dir;
  dir.MakeDir("v1");
  dir.MakeDir("b");
  dir.WriteFile("v1/wood.tif", "v1");
  dir.WriteFile("b/wood.tif", "b");
  ASSERT_EQ(symlink((dir / "v1").c_str(), (dir / "latest").c_str()), 0);
  TestOptions options({});
  auto tracker = EmptyTracker(dir / "shot.rib");
  for (const char* path : {"b/wood.tif", "latest/wood.tif", "v1/wood.tif"})
    Record(tracker->textures, dir / path);
  auto other = EmptyTracker(dir / "other.rib");
  Record(other->shaders, dir / "v1/wood.tif");  // named once, whatever the kind
  Name({tracker.get(), other.get()}, options);
  EXPECT_EQ(PackagedName(dir / "b/wood.tif"), "wood.tif");
  EXPECT_EQ(PackagedName(dir / "latest/wood.tif"), "wood_1.tif");
  EXPECT_EQ(PackagedName(dir / "v1/wood.tif"), "wood_1.tif");
}

// Only the kinds the run packages are named: a texture the package does not
// hold takes no name from a shader, and a UDIM pattern none at all.
TEST_F(PackagedNames, OnlyTheKindsOfTheMaskAreNamed) {
  TestOptions options({"-package", "/pkg", "-shaders", "-notfound"});
  auto tracker = EmptyTracker("/scenes/one.rib");
  Record(tracker->textures, "/t/plastic.oso");
  Record(tracker->textures, "/u/skin.1001.tif");
  Record(tracker->udimPatterns, "/u/skin.UDIM.tif");
  Record(tracker->shaders, "/s/plastic.oso");
  Name({tracker.get()}, options);
  ExpectNames({{"/s/plastic.oso", "plastic.oso"}, {"/t/plastic.oso", ""}, {"/u/skin.1001.tif", ""}},
              {{"/u/skin.UDIM.tif", ""}});
}

// A new name must still fit a folder entry: the stem is shortened before
// "_N" (at a character's start, never inside the UDIM marker).
TEST_F(PackagedNames, RenamedNamesFitTheFileSystem) {
  TestOptions options({});
  auto tracker = EmptyTracker("/scenes/one.rib");
  std::string longest(251, 'w');                     // with ".tif": 255 bytes
  std::string accented = std::string(249, 'a') + "\xc3\xa9";  // "é" ends the stem
  for (const std::string& stem : {longest, accented}) {
    Record(tracker->textures, "/a/" + stem + ".tif");
    Record(tracker->textures, "/b/" + stem + ".tif");
    Record(tracker->textures, "/c/" + stem + ".tif");
  }
  std::string pattern = std::string(246, 's') + ".UDIM.tif";
  for (const char* folder : {"/x/", "/y/"}) {
    Record(tracker->textures, folder + std::string(246, 's') + ".1001.tif");
    Record(tracker->udimPatterns, folder + pattern);
  }
  Name({tracker.get()}, options);
  EXPECT_EQ(PackagedName("/a/" + longest + ".tif"), longest + ".tif");
  EXPECT_EQ(PackagedName("/b/" + longest + ".tif"), std::string(249, 'w') + "_1.tif");
  EXPECT_EQ(PackagedName("/c/" + longest + ".tif"), std::string(249, 'w') + "_2.tif");
  // Two bytes would cut the "é" in half: both go.
  EXPECT_EQ(PackagedName("/b/" + accented + ".tif"), std::string(249, 'a') + "_1.tif");
  EXPECT_EQ(PackagedPattern("/y/" + pattern), "${VRXDIR}/" + std::string(244, 's') + ".UDIM_1.tif");
  EXPECT_EQ(PackagedName("/y/" + std::string(246, 's') + ".1001.tif"),
            std::string(244, 's') + ".1001_1.tif");
}

TEST_F(PackagedNames, ChangedFilesAreThoseWithASeparatorOrANewName) {
  auto tracker = EmptyTracker("/scenes/one.rib");
  Record(tracker->outputs, "out.exr");
  Record(tracker->outputs, "render/out.exr");
  Record(tracker->textures, "named.tx");
  Record(tracker->textures, "plain.tx");
  Record(tracker->textures, "/tex/known.tx");
  SetPackagedName("named.tx", "named.tx");
  ZpHashTable changed(32, 0.75f);
  Record(changed, "/tex/known.tx");

  testing::internal::CaptureStdout();
  ListChangedFiles(Output, *tracker, true, changed);
  ListChangedFiles(Texture, *tracker, true, changed);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "render/out.exr\nnamed.tx\n");
  EXPECT_TRUE(Holds(changed, "render/out.exr"));
  EXPECT_TRUE(Holds(changed, "named.tx"));
  EXPECT_FALSE(Holds(changed, "out.exr"));
  EXPECT_FALSE(Holds(changed, "plain.tx"));
}

}  // namespace
