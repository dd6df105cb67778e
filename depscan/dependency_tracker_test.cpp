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

// The source goes as soon as the scan ends: a run may hold a tracker for
// each of thousands of streams, and open descriptors are few.
TEST_F(DependencyTrackerTest, KeepsItsNameAndDeletesItsSourceOnceWhenTheScanEnds) {
  sourcesDeleted = 0;
  {
    DependencyTracker tracker(new CountingSource, "scene.rib", kAllKinds);
    EXPECT_EQ(0, sourcesDeleted);
    tracker.Scan();
    EXPECT_STREQ("scene.rib", tracker.Name());
    EXPECT_EQ(1, sourcesDeleted);
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
        std::filesystem::remove_all(dir.Path());  // exit skips the fixture's clean-up
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^tracwell: \\[[^]\n]*/first\\.rib:1\\]: Invalid id: Bogus\n$");
}

// A fatal message ends the run, so it is printed whatever came before.
TEST(ReportFirstParseError, PrintsTheFirstMessageWhateverItsSeverityAndEveryFatalOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ReportFirstParseError(nullptr, 1, "a warning");
        ReportFirstParseError(nullptr, 2, "an error");
        ReportFirstParseError(nullptr, 3, "the end");
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^tracwell: a warning\ntracwell: the end\n$");
  EXPECT_EXIT(
      {
        ReportFirstParseError(nullptr, 3, "the end");
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^tracwell: the end\n$");
}

// A name with a line break would print as two listing lines, the second
// one forged ("t /etc/shadow.tif"); such names are recorded nowhere.
TEST_F(DependencyTrackerTest, NamesWithLineBreaksAreLeftOutWithOneMessage) {
  WriteTiff("wood.tif");
  WriteFile("sh/a\nb.oso", "");
  WriteFile("in\rner.rib", TextureRequest(Path("wood.tif")));
  std::string forged = "/missing/x\nt /etc/shadow.tif";
  testing::internal::CaptureStderr();
  auto tracker = Scan(TextureRequest(forged) + TextureRequest(Path("lost\r.tif")) +
                      "SetAttribute \"m\" \"shaderfilename\" \"string\" 1 \"" +
                      Path("sh/a\nb") + "\"\n"
                      "SetAttribute \"c\" \"imagefilename\" \"string\" 1 \"/out/a\nb.exr\"\n"
                      "Evaluate \"type\" \"string\" 1 \"vrxstream\" \"filename\" \"string\" 1 \"" +
                      Path("in\rner.rib") + "\"\n"
                      "Evaluate \"type\" \"string\" 1 \"dso\" \"filename\" \"string\" 1 \"/p\nq\"\n" +
                      TextureRequest(Path("lost.tif")));
  EXPECT_EQ("tracwell: leaving out names with a line break in '" + Path("main.rib") + "'\n",
            testing::internal::GetCapturedStderr());
  for (uint32_t kind = 1; kind <= 256; kind <<= 1) {
    Paths expected = kind == DependencyKind::MissingTexture ? Paths{Path("lost.tif")} : Paths{};
    EXPECT_EQ(expected, Entries(*tracker, static_cast<DependencyKind>(kind))) << kind;
  }
  EXPECT_EQ(0u, tracker->resolvedNames.count);
}
