#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tracker_test_support.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Attribute(const std::string& name, const std::string& value) {
  return "SetAttribute \"node\" " + Quoted(name) + " \"string\" 1 " + Quoted(value) + "\n";
}

std::string Evaluate(const std::string& type, const std::string& fileName) {
  return "Evaluate \"type\" \"string\" 1 " + Quoted(type) + " \"filename\" \"string\" 1 " +
         Quoted(fileName) + "\n";
}

std::string NestedStream(const std::string& path) { return Evaluate("vrxstream", path); }

}  // namespace

using NestedStreamsTest = TrackerTest;

TEST_F(NestedStreamsTest, ShadersGetTheirSuffixOnce) {
  WriteFile("sh/a.oso", "");
  WriteFile("sh/b.oso", "");
  auto tracker = Scan(Attribute("shaderfilename", Path("sh/a")) +
                      Attribute("shaderfilename", Path("sh/a.oso")) +
                      Attribute("shaderfilename", Path("sh/b.oso")) +
                      Attribute("shaderfilename", Path("sh/c.OSO")));
  EXPECT_EQ((Paths{Path("sh/a.oso"), Path("sh/b.oso")}), Entries(*tracker, DependencyKind::Shader));
  EXPECT_EQ((Paths{Path("sh/c.OSO.oso")}), Entries(*tracker, DependencyKind::MissingShader));
  EXPECT_EQ(Path("sh/a.oso"), Resolved(*tracker, Path("sh/a.oso")));

  auto untracked = Scan(Attribute("shaderfilename", Path("sh/a")), DependencyKind::Texture,
                        "textures.rib");
  EXPECT_EQ(Paths{}, Entries(*untracked, DependencyKind::Shader));
  EXPECT_EQ(Paths{}, Entries(*untracked, DependencyKind::MissingShader));
}

TEST_F(NestedStreamsTest, ProceduralsAreFoundUnderTheFirstSuffixThatExists) {
  WriteFile("p/both", "");
  WriteFile("p/both.so", "");
  WriteFile("p/win.Dll", "");
  WriteFile("p/win.exe", "");
  WriteFile("p/script.LUA", "");
  // Looked for whatever the kind mask says.
  auto tracker = Scan(Evaluate("plugin", Path("p/both")) + Evaluate("plugin", Path("p/win")) +
                          Evaluate("script", Path("p/script")) + Evaluate("plugin", Path("p/gone")),
                      DependencyKind::Texture);
  EXPECT_EQ((Paths{Path("p/both"), Path("p/script.LUA"), Path("p/win.Dll")}),
            Entries(*tracker, DependencyKind::Procedural));
  EXPECT_EQ((Paths{Path("p/gone")}), Entries(*tracker, DependencyKind::MissingProcedural));
  EXPECT_EQ(Path("p/win.Dll"), Resolved(*tracker, Path("p/win")));
  EXPECT_EQ(Path("p/both"), Resolved(*tracker, Path("p/both")));
}

TEST_F(NestedStreamsTest, ANestedStreamIsReadInPlaceOfItsEvaluate) {
  WriteTiff("sub/inner.tif");
  WriteTiff("outer.tif");
  WriteFile("sub/inner.rib", Attribute("texturename", "${RIBDIR}/inner.tif") +
                                 "SetAttribute \"unfinished\" \"texturename\" \"string\"");
  // The SetAttribute after the Evaluate is what ended its parameter list:
  // it must survive the nested scan.
  auto tracker = Scan(NestedStream("${RIBDIR}/sub/inner.rib") +
                      Attribute("texturename", "${RIBDIR}/outer.tif") +
                      NestedStream(Path("sub/inner.rib")) + NestedStream(Path("gone.rib")));
  EXPECT_EQ((Paths{Path("outer.tif"), Path("sub/inner.tif")}),
            Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("sub/inner.rib")}), Entries(*tracker, DependencyKind::Stream));
  EXPECT_EQ((Paths{Path("gone.rib")}), Entries(*tracker, DependencyKind::MissingStream));
  EXPECT_EQ(Path("sub/inner.rib"), Resolved(*tracker, Path("sub/inner.rib")));
}

TEST_F(NestedStreamsTest, TheSameStreamDirectoryTextNamesEachStreamsOwnFile) {
  WriteTiff("one/t.tif");
  WriteFile("two/s.oso", "");
  std::string inner = Attribute("texturename", "${RIBDIR}/t.tif") +
                      Attribute("shaderfilename", "${RIBDIR}/s");
  WriteFile("one/inner.rib", inner);
  WriteFile("two/inner.rib", inner);
  auto tracker = Scan(NestedStream(Path("one/inner.rib")) + NestedStream(Path("two/inner.rib")) +
                      NestedStream(Path("one/inner.rib")));
  EXPECT_EQ((Paths{Path("one/t.tif")}), Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("two/t.tif")}), Entries(*tracker, DependencyKind::MissingTexture));
  EXPECT_EQ((Paths{Path("two/s.oso")}), Entries(*tracker, DependencyKind::Shader));
  EXPECT_EQ((Paths{Path("one/s.oso")}), Entries(*tracker, DependencyKind::MissingShader));
}

TEST_F(NestedStreamsTest, PathVariablesApplyInNestedStreams) {
  WriteTiff("vars/wood.tif");
  ZpScopedEnv pathVariable("VRX_PATH_NESTTEST", Path("vars").c_str());
  WriteFile("sub/inner.rib", Attribute("texturename", "${VRX_PATH_NESTTEST}/wood.tif"));
  auto tracker = Scan(NestedStream(Path("sub/inner.rib")));
  EXPECT_EQ((Paths{Path("vars/wood.tif")}), Entries(*tracker, DependencyKind::Texture));
}

// Only a regular file is read as a nested stream: a FIFO or a device would
// block the scan or never end. What cannot be read is no dependency found.
TEST_F(NestedStreamsTest, ANestedStreamThatIsNoRegularFileIsSkippedWithAMessage) {
  MakeDirectory("archive.rib");
  ASSERT_EQ(0, mkfifo(Path("pipe.rib").c_str(), 0644));
  testing::internal::CaptureStderr();
  auto tracker = Scan(NestedStream(Path("archive.rib")) + NestedStream(Path("pipe.rib")) +
                      NestedStream("/dev/zero") + Attribute("texturename", Path("t.tif")));
  EXPECT_EQ("tracwell: skipping nested stream '" + Path("archive.rib") +
                "': not a regular file\n"
                "tracwell: skipping nested stream '" + Path("pipe.rib") +
                "': not a regular file\n"
                "tracwell: skipping nested stream '/dev/zero': not a regular file\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(Paths{}, Entries(*tracker, DependencyKind::Stream));
  EXPECT_EQ((Paths{"/dev/zero", Path("archive.rib"), Path("pipe.rib")}),
            Entries(*tracker, DependencyKind::MissingStream));
  EXPECT_EQ((Paths{Path("t.tif")}), Entries(*tracker, DependencyKind::MissingTexture));
}

TEST_F(NestedStreamsTest, ANestedStreamThatCannotBeOpenedIsReportedAndNotFound) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WriteTiff("inner.tif");
  WriteFile("inner.rib", Attribute("texturename", Path("inner.tif")));
  WriteFile("main.rib", NestedStream(Path("inner.rib")));
  EXPECT_EXIT(
      {
        // Readable by nobody but its owner, and root reads anything: the
        // scan runs as another user then.
        chmod(dir.Path().c_str(), 0755);
        chmod(Path("inner.rib").c_str(), 0);
        bool root = geteuid() == 0;
        if (root && seteuid(65534) != 0) exit(4);
        auto tracker = ScanFile("main.rib");
        if (root && seteuid(0) != 0) exit(4);
        Paths notFound = Entries(*tracker, DependencyKind::MissingStream);
        bool listed = notFound.size() == 1 && notFound[0] == Path("inner.rib") &&
                      Entries(*tracker, DependencyKind::Stream).empty() &&
                      Entries(*tracker, DependencyKind::Texture).empty();
        std::filesystem::remove_all(dir.Path());  // exit skips the fixture's clean-up
        exit(listed ? 0 : 3);
      },
      ::testing::ExitedWithCode(0),
      "^tracwell: cannot open nested stream '[^']*/inner\\.rib' \\(system error: Permission "
      "denied\\)\n$");
}

// Each stream names the next twice: read on every route, the last would be
// read 2^40 times.
TEST_F(NestedStreamsTest, AStreamReachedByManyRoutesIsReadOnce) {
  const int kLevels = 40;
  auto streamName = [](int i) { return "many/s" + std::to_string(i) + ".rib"; };
  Paths streams, textures;
  for (int i = 0; i <= kLevels; ++i) {
    std::string next = i < kLevels ? NestedStream(Path(streamName(i + 1))) : "";
    std::string texture = "many/t" + std::to_string(i) + ".tif";
    WriteTiff(texture);
    WriteFile(streamName(i), next + Attribute("texturename", Path(texture)) + next);
    if (i > 0) streams.push_back(Path(streamName(i)));
    textures.push_back(Path(texture));
  }
  std::sort(streams.begin(), streams.end());
  std::sort(textures.begin(), textures.end());
  auto tracker = ScanFile(streamName(0));
  EXPECT_EQ(streams, Entries(*tracker, DependencyKind::Stream));
  EXPECT_EQ(textures, Entries(*tracker, DependencyKind::Texture));
}

// "${RIBDIR}" is the folder of the route that names a stream: a stream
// linked into another folder names that folder's files, and is read again
// through it. Through another spelling of the same folder it names the same
// files and is read once.
TEST_F(NestedStreamsTest, AStreamIsReadOncePerFolderThatGivesItsStreamDirectory) {
  WriteTiff("a/t.tif");
  WriteTiff("b/t.tif");
  WriteFile("a/n.rib", Attribute("texturename", "${RIBDIR}/t.tif"));
  ASSERT_EQ(symlink(Path("a/n.rib").c_str(), Path("b/n.rib").c_str()), 0);
  ASSERT_EQ(symlink(Path("a").c_str(), Path("latest").c_str()), 0);
  auto tracker = Scan(NestedStream(Path("a/n.rib")) + NestedStream(Path("b/n.rib")) +
                      NestedStream(Path("latest/n.rib")) + NestedStream(Path("a/./n.rib")));
  EXPECT_EQ((Paths{Path("a/t.tif"), Path("b/t.tif")}), Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("a/n.rib"), Path("b/n.rib"), Path("latest/n.rib")}),
            Entries(*tracker, DependencyKind::Stream));
}

// A stream that names itself through a link in another folder ends, as a
// cycle of one folder does.
TEST_F(NestedStreamsTest, ACycleThroughLinkedFoldersEnds) {
  WriteTiff("a/t.tif");
  WriteTiff("b/t.tif");
  WriteFile("a/n.rib", Attribute("texturename", "${RIBDIR}/t.tif") +
                           NestedStream("${RIBDIR}/../b/n.rib") +
                           NestedStream("${RIBDIR}/../a/n.rib"));
  ASSERT_EQ(symlink(Path("a/n.rib").c_str(), Path("b/n.rib").c_str()), 0);
  auto tracker = ScanFile("a/n.rib");
  EXPECT_EQ((Paths{Path("a/t.tif"), Path("b/t.tif")}), Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("a/n.rib"), Path("b/n.rib")}), Entries(*tracker, DependencyKind::Stream));
}

TEST_F(NestedStreamsTest, ASelfNestingStreamIsReadOnce) {
  WriteTiff("a.tif");
  auto tracker = Scan(NestedStream("${RIBDIR}/main.rib") + Attribute("texturename", Path("a.tif")) +
                      NestedStream(Path("main.rib")));
  EXPECT_EQ((Paths{Path("a.tif")}), Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("main.rib")}), Entries(*tracker, DependencyKind::Stream));
}

TEST_F(NestedStreamsTest, AStreamNotReadFromAFileIsNoFileOfTheChain) {
  // Standard input is named "stdin"; a file of that name is another stream.
  WriteTiff("a.tif");
  WriteFile("stdin", Attribute("texturename", Path("a.tif")));
  ZpChangeDirectory workingDirectory(dir.Path());
  std::string text = NestedStream(Path("stdin"));
  DependencyTracker tracker(new RibFromBuffer(text.data(), text.size()), "stdin", kAllKinds);
  tracker.Scan();
  EXPECT_EQ((Paths{Path("stdin")}), Entries(tracker, DependencyKind::Stream));
  EXPECT_EQ((Paths{Path("a.tif")}), Entries(tracker, DependencyKind::Texture));
}

TEST_F(NestedStreamsTest, ATwoStreamCycleEnds) {
  WriteTiff("a.tif");
  WriteTiff("b.tif");
  WriteFile("a.rib", Attribute("texturename", Path("a.tif")) + NestedStream(Path("b.rib")));
  WriteFile("b.rib", Attribute("texturename", Path("b.tif")) + NestedStream(Path("a.rib")));
  auto tracker = ScanFile("a.rib");
  EXPECT_EQ((Paths{Path("a.tif"), Path("b.tif")}), Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("a.rib"), Path("b.rib")}), Entries(*tracker, DependencyKind::Stream));
}

TEST_F(NestedStreamsTest, DeepNestingIsBounded) {
  // A chain of distinct streams longer than the bound: s0 names s1, ...
  const size_t length = DependencyTracker::kMaxNestingDepth + 10;
  auto streamName = [](size_t i) { return "deep/s" + std::to_string(i) + ".rib"; };
  auto textureName = [](size_t i) { return "deep/t" + std::to_string(i) + ".tif"; };
  for (size_t i = 0; i < length; ++i) {
    WriteFile(streamName(i),
              Attribute("texturename", Path(textureName(i))) + NestedStream(Path(streamName(i + 1))));
  }
  testing::internal::CaptureStderr();
  auto tracker = ScanFile(streamName(0));
  EXPECT_EQ("tracwell: nested stream '" + Path(streamName(DependencyTracker::kMaxNestingDepth + 1)) +
                "' is not read: more than 256 levels of nesting\n",
            testing::internal::GetCapturedStderr());
  std::set<std::string> missing;
  for (const std::string& path : Entries(*tracker, DependencyKind::MissingTexture)) {
    missing.insert(path);
  }
  // The outermost stream and the nested levels within the bound are read;
  // the stream one level further is recorded but not read.
  const size_t deepest = DependencyTracker::kMaxNestingDepth;
  EXPECT_EQ(deepest + 1, missing.size());
  EXPECT_TRUE(missing.count(Path(textureName(deepest))));
  EXPECT_FALSE(missing.count(Path(textureName(deepest + 1))));
  EXPECT_TRUE(tracker->streams.Contains(Path(streamName(deepest + 1))));
  EXPECT_FALSE(tracker->streams.Contains(Path(streamName(deepest + 2))));
}
