#include "stream_rewrite.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>

#include "packaging_test_support.h"
#include "file_utils.h"
#include "path_strings.h"
#include "process.h"

namespace {

std::string Rewritten(const std::string& text, DependencyTracker& tracker,
                      const ZpHashTable& changed, ToolOptions& options) {
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  char* bytes = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&bytes, &size);
  RewriteStrings(in, out, tracker, changed, options);
  std::fclose(in);
  std::fclose(out);
  std::string result(bytes, size);
  std::free(bytes);
  return result;
}

std::string Gzipped(const std::string& text, const std::string& path) {
  gzFile file = gzopen(path.c_str(), "wb");
  gzwrite(file, text.data(), unsigned(text.size()));
  gzclose(file);
  return path;
}

// What the stand-in vornex writes for a stream read from standard input.
std::string CatFromStdin(const std::string& path) {
  std::string command = StandinDir("vornex") + "/vornex -cat -q < " + ZpShellQuote(path.c_str());
  FILE* pipe = popen(command.c_str(), "r");
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, n);
  pclose(pipe);
  return text;
}

using StringRewrite = PackagedNamesTest;

TEST_F(StringRewrite, ChangedReferencesTakeTheirPackagedForm) {
  TestOptions options({"-package", "/pkg"});
  auto tracker = EmptyTracker("/scenes/shot.rib");
  Resolve(*tracker, "/sh/plastic.oso", "/sh/plastic.oso");
  Resolve(*tracker, "/tex/wood.tx", "/tex/wood.tx");
  ZpHashTable changed(32, 0.75f);
  for (const char* path : {"/sh/plastic.oso", "/tex/wood.tx", "/renders/beauty.exr",
                           "/tex/we\"ird.tx", "/tex/bs.tx"})
    Record(changed, path);
  SetPackagedName("/sh/plastic.oso", "plastic.oso");
  SetPackagedName("/tex/wood.tx", "wood.tx");
  SetPackagedName("/tex/we\"ird.tx", "we\"ird.tx");
  SetPackagedName("/tex/bs.tx", "b\\s.tx");
  // UDIM sets: one whose tiles keep their names, one renamed apart by a clash.
  Resolve(*tracker, "/tex/skin.UDIM.tif", "/tex/skin.1003.tif");
  Resolve(*tracker, "/u/leaf.UDIM.tif", "/u/leaf.1002.tif");
  for (const char* tile : {"/tex/skin.1001.tif", "/tex/skin.1003.tif", "/u/leaf.1001.tif",
                           "/u/leaf.1002.tif"})
    Record(changed, tile);
  SetPackagedName("/tex/skin.1001.tif", "skin.1001.tif");
  SetPackagedName("/tex/skin.1003.tif", "skin.1003.tif");
  SetPackagedName("/u/leaf.1001.tif", "leaf.1001_1.tif");
  SetPackagedName("/u/leaf.1002.tif", "leaf.1002.tif");
  // Names the tracker recorded expanded: relative, or through a variable.
  ZpScopedEnv texDir("ZP_TEST_TEXDIR", "/tex");
  const std::string relative = ZpCurrentDirectory() + "/maps/rel.tx";
  Resolve(*tracker, relative, relative);
  Record(changed, relative);
  SetPackagedName(relative, "rel.tx");
  // A set whose pattern would also take in a tile of another set.
  Resolve(*tracker, "/v/bark.UDIM.tif", "/v/bark.1001.tif");
  Record(changed, "/v/bark.1001.tif");
  SetPackagedName("/v/bark.1001.tif", "bark.1001.tif");
  SetPackagedName("/w/bark.1002.tif", "bark.1002.tif");

  const std::pair<const char*, const char*> cases[] = {
      {"Shader \"/sh/plastic\" 1", "Shader \"${VRXDIR}/plastic\" 1"},  // ".oso" left off
      {"\"/tex/wood.tx\"", "\"${VRXDIR}/wood.tx\""},
      {"\"/renders/beauty.exr\"", "\"beauty.exr\""},  // no packaged name: relative name
      {"\"handle|0\" # \"/tex/wood.tx\"", "\"handle|0\" # \"${VRXDIR}/wood.tx\""},
      {"\"a\\\"b\" \"x\\\\\"", "\"a\\\"b\" \"x\\\\\""},  // escapes kept, one string each
      // Names holding a quote or a backslash are found and written escaped.
      {"\"/tex/we\\\"ird.tx\"", "\"${VRXDIR}/we\\\"ird.tx\""},
      {"\"/tex/bs.tx\"", "\"${VRXDIR}/b\\\\s.tx\""},
      // A stream cut inside a string keeps the string's bytes.
      {"Surface \"/tex/wood.tx\" \"cut off", "Surface \"${VRXDIR}/wood.tx\" \"cut off"},
      {"\"ends in escape\\", "\"ends in escape\\"},
      {"\"/tex/skin.UDIM.tif\"", "\"${VRXDIR}/skin.UDIM.tif\""},
      {"\"/u/leaf.UDIM.tif\"", "\"${VRXDIR}/leaf.1002.tif\""},
      {"\"/v/bark.UDIM.tif\"", "\"${VRXDIR}/bark.1001.tif\""},
      {"\"maps/rel.tx\"", "\"${VRXDIR}/rel.tx\""},
      {"\"${ZP_TEST_TEXDIR}/wood.tx\"", "\"${VRXDIR}/wood.tx\""},
      {"\"string\" \"tex\"", "\"string\" \"tex\""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Rewritten(in, *tracker, changed, *options), out);
}

class StreamRewrite : public PackagedNamesTest {
 protected:
  StreamRewrite() : path_("PATH", PathWith({StandinDir("vornex")}).c_str()) {
    package_ = dir_.MakeDir("pkg");
    tracker_ = EmptyTracker("shot");
    Resolve(*tracker_, "/tex/wood.tx", "/tex/wood.tx");
    Record(tracker_->textures, "/tex/wood.tx");
    SetPackagedName("/tex/wood.tx", "wood.tx");
  }

  std::string Rewrite(const std::string& source, std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"-package", package_});
    TestOptions options(extra);
    testing::internal::CaptureStderr();
    RewriteStream(*tracker_, source.c_str(), *options);
    return testing::internal::GetCapturedStderr();
  }

  ZpTestDir dir_;
  ZpScopedEnv path_;
  std::string package_;
  std::unique_ptr<DependencyTracker> tracker_;
  const std::string stream_ = "SetAttribute \"h\" \"string map\" 1 \"/tex/wood.tx\"\n";
  const std::string rewritten_ = "SetAttribute \"h\" \"string map\" 1 \"${VRXDIR}/wood.tx\"\n";
};

TEST_F(StreamRewrite, UnchangedStreamIsCopiedByteForByte) {
  auto tracker = EmptyTracker("shot");
  Record(tracker->outputs, "beauty.exr");
  std::string bytes("\x1f\x8b\x08\x00 not really gzip \x00\xff", 24);
  std::string source = dir_.WriteFile("shot.rib", bytes);
  TestOptions options({"-verbose", "-package", package_});
  testing::internal::CaptureStdout();
  RewriteStream(*tracker, source.c_str(), *options);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n#Changing path or name for:\n\n");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/shot.rib"), bytes);
}

TEST_F(StreamRewrite, ChangedStreamIsReadBackThroughVornexInAnyEncoding) {
  std::string plain = dir_.WriteFile("plain.rib", stream_);
  std::string gzipped = Gzipped(stream_, dir_ / "gzipped.rib");
  EXPECT_EQ(Rewrite(plain), "");
  EXPECT_EQ(Rewrite(gzipped), "");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/plain.rib"), rewritten_);
  EXPECT_EQ(ZpReadWholeFile(package_ + "/gzipped.rib"), rewritten_);
}

TEST_F(StreamRewrite, WithoutVornexAPlainStreamIsRewrittenFromTheFileItself) {
  ZpScopedEnv path("PATH", PathWith({}).c_str());
  std::string source = dir_.WriteFile("shot.rib", "# comment\n" + stream_);
  EXPECT_EQ(Rewrite(source), "\n#Could not read '" + source +
                                 "' through vornex (vornex exit status 255): rewriting it as "
                                 "plain text\n\n");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/shot.rib"), "# comment\n" + rewritten_);
}

TEST_F(StreamRewrite, WithoutVornexACompressedStreamIsLeftOutNotWrittenEmpty) {
  ZpScopedEnv path("PATH", PathWith({}).c_str());
  std::string source = Gzipped(stream_, dir_ / "shot.rib");
  dir_.WriteFile("pkg/shot.rib", "left from an earlier run");
  EXPECT_EQ(Rewrite(source), "\n#Could not read '" + source +
                                 "' through vornex (vornex exit status 255): left out of the "
                                 "package\n\n");
  EXPECT_FALSE(ZpFileExists((package_ + "/shot.rib").c_str()));
}

TEST_F(StreamRewrite, AVornexThatFailsHalfwayLeavesNoCutOffStream) {
  std::string fake = dir_.MakeDir("fake");
  dir_.WriteFile("fake/vornex", "#!/bin/sh\nprintf 'SetAttribute \"h\" \"str'\nexit 3\n");
  chmod((fake + "/vornex").c_str(), 0755);
  ZpScopedEnv path("PATH", PathWith({fake}).c_str());
  std::string source = dir_.WriteFile("shot.rib", stream_);
  EXPECT_EQ(Rewrite(source), "\n#Could not read '" + source +
                                 "' through vornex (vornex exit status 3): rewriting it as plain "
                                 "text\n\n");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/shot.rib"), rewritten_);
}

TEST_F(StreamRewrite, AFailedBinaryWriterLeavesNoDestination) {
  // Reads through the stand-in; fails as the writing command.
  std::string fake = dir_.MakeDir("fake");
  dir_.WriteFile("fake/vornex", "#!/bin/sh\n[ \"$3\" = -binary ] && exit 4\nexec " +
                                    StandinDir("vornex") + "/vornex \"$@\"\n");
  chmod((fake + "/vornex").c_str(), 0755);
  ZpScopedEnv path("PATH", PathWith({fake}).c_str());
  // More than a pipe holds, so that writing meets the closed pipe.
  std::string big;
  for (int i = 0; i < 4096; ++i) big += stream_;
  std::string source = dir_.WriteFile("shot.rib", big);
  EXPECT_EQ(Rewrite(source, {"-binary"}), "\n#Could not write '" + package_ +
                                              "/shot.rib' through vornex (vornex exit status "
                                              "4)\n\n");
  EXPECT_FALSE(ZpFileExists((package_ + "/shot.rib").c_str()));
}

// A full disk: the stream is reported and no cut-off copy stays behind.
TEST_F(StreamRewrite, AFailedWriteIsReportedAndLeavesNoDestination) {
  std::string source = dir_.WriteFile("shot.rib", stream_);
  std::string destination = package_ + "/shot.rib";
  // Through vornex, then without it (the stream rewritten from the file).
  for (std::vector<std::string> dirs : {std::vector<std::string>{StandinDir("vornex")},
                                        std::vector<std::string>{}}) {
    ZpScopedEnv path("PATH", PathWith(dirs).c_str());
    ASSERT_EQ(symlink("/dev/full", destination.c_str()), 0);
    std::string err = Rewrite(source);
    EXPECT_NE(err.find("\n#Could not write '" + destination + "'\n\n"), std::string::npos)
        << err;
    EXPECT_FALSE(ZpFileExists(destination.c_str()));
    unlink(destination.c_str());
  }
}

TEST_F(StreamRewrite, NeverWritesOverItsOwnSource) {
  std::string source = dir_.WriteFile("pkg/shot.rib", stream_);
  EXPECT_EQ(Rewrite(source), "\n#Not writing '" + source + "' as '" + source +
                                 "': they are the same file\n\n");
  EXPECT_EQ(ZpReadWholeFile(source), stream_);
}

TEST_F(StreamRewrite, BinaryOutputGoesToExactlyTheNamedFile) {
  ZpChangeDirectory cwd(dir_.Path());
  std::string source = dir_.WriteFile("shot.rib", stream_);
  const std::string name = "we'ird $(touch pwned) `touch pwned2` \"q\".rib";
  SetPackagedName(source, name);
  EXPECT_EQ(Rewrite(source, {"-binary"}), "");
  std::string destination = package_ + "/" + name;
  EXPECT_EQ(ZpReadWholeFile(destination).substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(CatFromStdin(destination), rewritten_);
  EXPECT_FALSE(ZpFileExists("pwned"));
  EXPECT_FALSE(ZpFileExists("pwned2"));
}

TEST_F(StreamRewrite, AnUnwritableDestinationIsReported) {
  std::string source = dir_.WriteFile("shot.rib", stream_);
  SetPackagedName(source, "no/such/dir/shot.rib");
  EXPECT_EQ(Rewrite(source),
            "#Cannot write or create file '" + package_ + "/no/such/dir/shot.rib'\n");
}

}  // namespace
