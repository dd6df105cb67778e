#include "dependency_tracker.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>

#include "tracker_test_support.h"

namespace {

// A request naming one texture candidate.
std::string TextureRequest(const std::string& path) {
  return "SetAttribute \"node\" \"texturename\" \"string\" 1 \"" + path + "\"\n";
}

int sourcesDeleted = 0;

class CountingSource : public RibSource {
 public:
  ~CountingSource() override { ++sourcesDeleted; }
  int Read(void*, int) override { return 0; }
};

}  // namespace

using DependencyTrackerTest = TrackerTest;

TEST_F(DependencyTrackerTest, EmptyTableEndsAtOnceAndNextStaysAtTheEnd) {
  auto tracker = Scan(TextureRequest(Path("gone.tif")));
  EXPECT_EQ("", *tracker->First(DependencyKind::Texture));
  EXPECT_EQ("", *tracker->Next());

  EXPECT_EQ(Path("gone.tif"), *tracker->First(DependencyKind::MissingTexture));
  EXPECT_EQ(Path("gone.tif"), *tracker->Current());
  EXPECT_EQ("", *tracker->Next());
  EXPECT_EQ("", *tracker->Next());
  EXPECT_EQ("", *tracker->Current());
}

TEST_F(DependencyTrackerTest, ListIsSortedBytewise) {
  // Upper case before lower case, a path before its extension, bytes above
  // 0x7F after ASCII; also where long names first differ far in.
  auto tracker = Scan(TextureRequest(Path("a.tiff")) + TextureRequest(Path("\xC3\xA9.tif")) +
                      TextureRequest(Path("a.tif")) + TextureRequest(Path("B.tif")) +
                      TextureRequest(Path("long/name/for/sorting/b.exr")) +
                      TextureRequest(Path("long/name/for/sorting.exr")) +
                      TextureRequest(Path("long/name/for/sorting/a.exr")));
  EXPECT_EQ((Paths{Path("B.tif"), Path("a.tif"), Path("a.tiff"),
                   Path("long/name/for/sorting.exr"), Path("long/name/for/sorting/a.exr"),
                   Path("long/name/for/sorting/b.exr"), Path("\xC3\xA9.tif")}),
            Entries(*tracker, DependencyKind::MissingTexture));
}

TEST_F(DependencyTrackerTest, KeysSharingVeryLongPrefixesSortBytewise) {
  // A scene may name paths of any length; the sort must neither recurse
  // once per few bytes of a shared prefix nor lose the order.
  std::string prefix = Path(std::string(4 << 20, 'p'));
  Paths expected = {prefix + "/B.exr", prefix + "/a.exr", prefix + "/a.exr.tif",
                    prefix + "/\xC3\xA9.exr", prefix + "q.exr"};
  DependencyTracker tracker(new RibFromBuffer("", 0), "long.rib", kAllKinds);
  for (size_t i : {3, 0, 4, 2, 1}) tracker.AddImage(expected[i], true, true);
  EXPECT_TRUE(Entries(tracker, DependencyKind::MissingTexture) == expected);
}

TEST_F(DependencyTrackerTest, FirstOfAnotherValueRestartsTheCurrentList) {
  auto tracker = Scan(TextureRequest(Path("b.tif")) + TextureRequest(Path("a.tif")));
  tracker->First(DependencyKind::MissingTexture);
  tracker->Next();
  EXPECT_EQ(Path("a.tif"), *tracker->First(static_cast<DependencyKind>(3)));
  EXPECT_EQ(Path("b.tif"), *tracker->Next());
}

TEST_F(DependencyTrackerTest, ResolvedShaderPathTriesTheNameThenTheShaderSuffix) {
  WriteFile("sh/plastic.oso", "");
  WriteTiff("wood.tif");
  auto tracker = Scan(
      "SetAttribute \"m\" \"shaderfilename\" \"string\" 1 \"" + Path("sh/plastic") + "\"\n" +
      TextureRequest(Path("wood.tif")));
  EXPECT_EQ(Path("sh/plastic.oso"), tracker->ResolvedShaderPath(Path("sh/plastic")));
  EXPECT_EQ(Path("sh/plastic.oso"), tracker->ResolvedShaderPath(Path("sh/plastic.oso")));
  EXPECT_EQ(Path("wood.tif"), tracker->ResolvedShaderPath(Path("wood.tif")));
  EXPECT_EQ("/elsewhere/metal", tracker->ResolvedShaderPath("/elsewhere/metal"));
}

TEST_F(DependencyTrackerTest, KeepsItsNameAndDeletesItsSourceOnce) {
  sourcesDeleted = 0;
  {
    DependencyTracker tracker(new CountingSource, "scene.rib", kAllKinds);
    tracker.Scan();
    EXPECT_STREQ("scene.rib", tracker.Name());
    EXPECT_EQ(0, sourcesDeleted);
  }
  EXPECT_EQ(1, sourcesDeleted);
}

TEST_F(DependencyTrackerTest, OnlyTheFirstMessageOfTheRunIsPrinted) {
  // Run in a fresh process: the printed-message flag is process-wide.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WriteFile("first.rib", "Bogus\nAlsoBogus\n");
  WriteFile("second.rib", "Wrong\n");
  EXPECT_EXIT(
      {
        ScanFile("first.rib");
        ScanFile("second.rib");
        ReportFirstParseError(nullptr, 3, "direct");
        std::filesystem::remove_all(dir.Path());  // exit skips the fixture's clean-up
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^tracwell: \\[[^]\n]*/first\\.rib:1\\]: Invalid id: Bogus\n$");
}

TEST(ReportFirstParseError, PrintsTheFirstMessageWhateverItsSeverity) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ReportFirstParseError(nullptr, 1, "a warning");
        ReportFirstParseError(nullptr, 2, "an error");
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^tracwell: a warning\n$");
}
