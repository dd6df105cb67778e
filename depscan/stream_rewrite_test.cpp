#include "stream_rewrite.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "packaging_test_support.h"
#include "file_utils.h"
#include "path_strings.h"
#include "process.h"
#include "run_status.h"

namespace {

std::string Gzipped(const std::string& text, const std::string& path) {
  gzFile file = gzopen(path.c_str(), "wb");
  gzwrite(file, text.data(), unsigned(text.size()));
  gzclose(file);
  return path;
}

std::string Gunzipped(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  std::string text;
  char chunk[4096];
  for (int n; file && (n = gzread(file, chunk, sizeof chunk)) > 0;) text.append(chunk, size_t(n));
  if (file) gzclose(file);
  return text;
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

// A request that sets one attribute to one string.
std::string Set(const std::string& parameter, const std::string& value) {
  return "SetAttribute \"h\" \"" + parameter + "\" \"string\" 1 \"" + value + "\"\n";
}

// An Evaluate of one file.
std::string Evaluate(const std::string& type, const std::string& file) {
  return "Evaluate \"type\" \"string\" 1 \"" + type + "\" \"filename\" \"string\" 1 \"" + file +
         "\"\n";
}

using Cases = std::vector<std::pair<std::string, std::string>>;

// Rewrites stream texts the way a stream of the package is rewritten.
class StringRewrite : public PackagedNamesTest {
 protected:
  // Records that the tracker found path, which changes in the package and
  // is packaged as name.
  void Package(DependencyTracker& tracker, const std::string& path, const std::string& name) {
    Resolve(tracker, path, path);
    Record(changed_, path);
    SetPackagedName(path, name);
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".oso") == 0)
      Record(tracker.shaders, path);
  }

  // text rewritten as the stream streamName at the given depth below the
  // package directory.
  std::string Rewritten(const std::string& text, DependencyTracker& tracker, int depth = 0) {
    FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    char* bytes = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&bytes, &size);
    RewriteStrings(in, out, {tracker, changed_, *options_, produced_, tracker.Name(), depth});
    std::fclose(in);
    std::fclose(out);
    std::string result(bytes, size);
    std::free(bytes);
    return result;
  }

  void ExpectRewrites(const Cases& cases, DependencyTracker& tracker, int depth = 0) {
    for (const auto& [in, out] : cases) EXPECT_EQ(Rewritten(in, tracker, depth), out) << in;
  }

  TestOptions options_{{"-package", "/pkg"}};
  ZpHashTable changed_{32, 0.75f};
  ZpHashTable produced_{32, 0.75f};
};

TEST_F(StringRewrite, ChangedReferencesTakeTheirPackagedForm) {
  auto tracker = EmptyTracker("/scenes/shot.rib");
  Package(*tracker, "/sh/plastic.oso", "plastic.oso");
  Package(*tracker, "/tex/wood.tx", "wood.tx");
  Package(*tracker, "/tex/we\"ird.tx", "we\"ird.tx");
  Package(*tracker, "/tex/bs.tx", "b\\s.tx");
  Record(changed_, "/renders/beauty.exr");
  // Names the tracker recorded expanded: relative, or through a variable.
  ZpScopedEnv texDir("ZP_TEST_TEXDIR", "/tex");
  Package(*tracker, ZpCurrentDirectory() + "/maps/rel.tx", "rel.tx");
  ExpectRewrites(
      {
          {"Shader \"/sh/plastic\" 1", "Shader \"${VRXDIR}/plastic\" 1"},  // ".oso" left off
          {"\"/tex/wood.tx\"", "\"${VRXDIR}/wood.tx\""},
          {"\"/renders/beauty.exr\"", "\"beauty.exr\""},  // no packaged name: relative name
          {"\"a\\\"b\" \"x\\\\\"", "\"a\\\"b\" \"x\\\\\""},  // escapes kept, one string each
          // Names holding a quote or a backslash are found and written escaped.
          {"\"/tex/we\\\"ird.tx\"", "\"${VRXDIR}/we\\\"ird.tx\""},
          {"\"/tex/bs.tx\"", "\"${VRXDIR}/b\\\\s.tx\""},
          // A stream cut inside a string keeps the string's bytes.
          {"Surface \"/tex/wood.tx\" \"cut off", "Surface \"${VRXDIR}/wood.tx\" \"cut off"},
          {"\"ends in escape\\", "\"ends in escape\\"},
          // File names in other spellings, where the tracker reads file names.
          {Set("map", "maps/rel.tx"), Set("map", "${VRXDIR}/rel.tx")},
          {Set("map", "${ZP_TEST_TEXDIR}/wood.tx"), Set("map", "${VRXDIR}/wood.tx")},
          {Set("map", "/tex//./wood.tx"), Set("map", "${VRXDIR}/wood.tx")},
          {Set("map", "/renders/../tex/wood.tx"), Set("map", "${VRXDIR}/wood.tx")},
          {"\"string\" \"tex\"", "\"string\" \"tex\""},
      },
      *tracker);
}

// Only the renderer's shaders get ".oso" back: a procedural or a nested
// stream whose name ends so keeps it in the package.
TEST_F(StringRewrite, OnlyShadersLeaveOffTheirSuffix) {
  auto tracker = EmptyTracker("/scenes/shot.rib");
  for (const char* path : {"/procs/shade.oso", "/nest/inner.oso"}) {
    Resolve(*tracker, path, path);
    Record(changed_, path);
  }
  Record(tracker->procedurals, "/procs/shade.oso");
  Record(tracker->streams, "/nest/inner.oso");
  SetPackagedName("/procs/shade.oso", "shade.oso");
  SetPackagedName("/nest/inner.oso", "inner.oso");
  Package(*tracker, "/sh/plastic.oso", "plastic.oso");
  ExpectRewrites(
      {
          {Evaluate("dynamiclib", "/procs/shade.oso"), Evaluate("dynamiclib", "${VRXDIR}/shade.oso")},
          {Evaluate("vrxstream", "/nest/inner.oso"), Evaluate("vrxstream", "${VRXDIR}/inner.oso")},
          {Set("shaderfilename", "/sh/plastic.oso"), Set("shaderfilename", "${VRXDIR}/plastic")},
      },
      *tracker);
}

// A string the reader does not read as one (in a comment) stays as it is,
// and a quote in a comment starts no string: what follows is rewritten.
TEST_F(StringRewrite, CommentsAreCopiedAsTheReaderSkipsThem) {
  auto tracker = EmptyTracker("/scenes/shot.rib");
  Package(*tracker, "/tex/wood.tx", "wood.tx");
  ExpectRewrites(
      {
          {"# the 5\" monitor\n" + Set("map", "/tex/wood.tx"),
           "# the 5\" monitor\n" + Set("map", "${VRXDIR}/wood.tx")},
          {"\"handle|0\" # \"/tex/wood.tx\"\r\n\"/tex/wood.tx\"",
           "\"handle|0\" # \"/tex/wood.tx\"\r\n\"${VRXDIR}/wood.tx\""},
          {"## structure \"\n\"/tex/wood.tx\"", "## structure \"\n\"${VRXDIR}/wood.tx\""},
      },
      *tracker);
}

// Only the values the tracker reads as file names are taken in any spelling;
// a handle or a node type that happens to spell a packaged file, relative to
// the working directory, stays, so that connections between streams hold.
TEST_F(StringRewrite, NamesThatAreNoFileValuesStay) {
  auto tracker = EmptyTracker("/scenes/shot.rib");
  Package(*tracker, ZpCurrentDirectory() + "/plastic.oso", "plastic.oso");
  ExpectRewrites(
      {
          {"Create \"plastic\" \"shader\"\n", "Create \"plastic\" \"shader\"\n"},
          {"Connect \"plastic\" \"out\" \"m\" \"in\"\n",
           "Connect \"plastic\" \"out\" \"m\" \"in\"\n"},
          {"SetAttribute \"plastic\" \"shaderfilename\" \"string\" 1 \"plastic\"\n",
           "SetAttribute \"plastic\" \"shaderfilename\" \"string\" 1 \"${VRXDIR}/plastic\"\n"},
          {"Evaluate \"type\" \"string\" 1 \"plastic\" \"filename\" \"string\" 1 [\"plastic\"]\n",
           "Evaluate \"type\" \"string\" 1 \"plastic\" \"filename\" \"string\" 1 "
           "[\"${VRXDIR}/plastic\"]\n"},
          // Parameter names and type declarations are no values either.
          {"SetAttributeAtTime \"h\" 0.5 \"plastic\" \"plastic\" 1 \"x\"\n",
           "SetAttributeAtTime \"h\" 0.5 \"plastic\" \"plastic\" 1 \"x\"\n"},
      },
      *tracker);
}

// A stream placed in a folder of the package reaches the packaged files one
// level up per folder.
TEST_F(StringRewrite, StreamsInPackageFoldersClimbToTheirFiles) {
  auto tracker = EmptyTracker("/scenes/shot.rib");
  Package(*tracker, "/tex/wood.tx", "maps/wood.tx");
  Record(changed_, "/renders/beauty.exr");
  ExpectRewrites({{"\"/tex/wood.tx\" \"/renders/beauty.exr\"",
                   "\"${VRXDIR}/../../maps/wood.tx\" \"beauty.exr\""}},
                 *tracker, 2);
  EXPECT_EQ(FolderDepth("seq/./deep//n.rib"), 2);
  EXPECT_EQ(FolderDepth("n.rib"), 0);
}

// What a producer writes as its output image and a consumer reads as a
// texture meet: both become the relative name, whether the image exists
// yet or not.
TEST_F(StringRewrite, ProducedTexturesAreWrittenAsTheProducerWritesThem) {
  auto consumer = EmptyTracker("/scenes/comp.rib");
  Record(consumer->textures, "/maps/occlusion.tif");
  Package(*consumer, "/maps/occlusion.tif", "occlusion.tif");
  Record(consumer->missingTextures, "/render/shadow.tif");
  Record(changed_, "/render/shadow.tif");
  Record(produced_, "occlusion.tif");
  Record(produced_, "shadow.tif");
  ExpectRewrites({{Set("a", "/maps/occlusion.tif") + Set("b", "/render/shadow.tif"),
                   Set("a", "occlusion.tif") + Set("b", "shadow.tif")}},
                 *consumer, 1);
  // The producer: its output image is its relative name, also when another
  // stream's texture gave that path a packaged name.
  auto producer = EmptyTracker("/scenes/light.rib");
  Record(producer->outputs, "/maps/occlusion.tif");
  ExpectRewrites({{Set("imagefilename", "/maps/occlusion.tif"),
                   Set("imagefilename", "occlusion.tif")}},
                 *producer, 1);
}

// The stream read back through vornex may spell a file otherwise than the
// tracker recorded it: a stream named "shot.rib" is read from ".".
TEST_F(StringRewrite, BareStreamNamesFindTheirFilesInEverySpelling) {
  auto tracker = EmptyTracker("shot.rib");
  const std::string recorded = ZpCurrentDirectory() + "/./tex/a.tif";
  Package(*tracker, recorded, "a.tif");
  for (const std::string& spelling :
       {std::string("${RIBDIR}/tex/a.tif"), ZpCurrentDirectory() + "/tex/a.tif", recorded,
        std::string("tex/a.tif"), std::string("./tex//a.tif"), std::string("tex/x/../a.tif")})
    EXPECT_EQ(Rewritten(Set("map", spelling), *tracker), Set("map", "${VRXDIR}/a.tif"))
        << spelling;
}

// A UDIM name keeps its pattern, renamed with its set when a tile clashed.
TEST_F(StringRewrite, UdimNamesKeepTheirPatternsInThePackage) {
  auto tracker = EmptyTracker("/scenes/shot.rib");
  for (const char* tile : {"/a/skin.1001.tif", "/a/skin.1002.tif", "/b/skin.1001.tif",
                           "/b/skin.1003.tif"})
    Record(tracker->textures, tile);
  Record(tracker->udimPatterns, "/a/skin.UDIM.tif");
  Record(tracker->udimPatterns, "/b/skin.UDIM.tif");
  Resolve(*tracker, "/a/skin.UDIM.tif", "/a/skin.1002.tif");
  Resolve(*tracker, "/b/skin.UDIM.tif", "/b/skin.1003.tif");
  NamePackageContents({tracker.get()}, *options_);
  ListChangedFiles(Texture, *tracker, false, changed_);
  ExpectRewrites({{Set("a", "/a/skin.UDIM.tif") + Set("b", "/b/skin.UDIM.tif") +
                       Set("b", "/b/./skin.UDIM.tif"),
                   Set("a", "${VRXDIR}/../skin.UDIM.tif") + Set("b", "${VRXDIR}/../skin.UDIM_1.tif") +
                       Set("b", "${VRXDIR}/../skin.UDIM_1.tif")}},
                 *tracker, 1);
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
    RewriteStream(*tracker_, source.c_str(), *options, produced_);
    return testing::internal::GetCapturedStderr();
  }

  ZpTestDir dir_;
  ZpScopedEnv path_;
  std::string package_;
  std::unique_ptr<DependencyTracker> tracker_;
  ZpHashTable produced_{32, 0.75f};
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
  RewriteStream(*tracker, source.c_str(), *options, produced_);
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
                                 "' through vornex (vornex was not found): rewriting it as "
                                 "plain text\n\n");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/shot.rib"), "# comment\n" + rewritten_);
  EXPECT_FALSE(PackageIsIncomplete());
}

// The writing vornex of -binary is missing too: the stream is written as
// the plain text the message announces.
TEST_F(StreamRewrite, WithoutVornexABinaryPackageGetsThePlainTextItAnnounces) {
  ZpScopedEnv path("PATH", PathWith({}).c_str());
  std::string source = dir_.WriteFile("shot.rib", stream_);
  EXPECT_EQ(Rewrite(source, {"-binary"}), "\n#Could not read '" + source +
                                              "' through vornex (vornex was not found): "
                                              "rewriting it as plain text\n\n");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/shot.rib"), rewritten_);
  EXPECT_FALSE(PackageIsIncomplete());
}

// A stream named like an option reaches vornex as a path.
TEST_F(StreamRewrite, AStreamNamedLikeAnOptionIsReadAsAFile) {
  ZpChangeDirectory inside(dir_.Path());
  dir_.WriteFile("-c.rib", stream_);
  EXPECT_EQ(Rewrite("-c.rib"), "");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/-c.rib"), rewritten_);
}
// Only references to files the package holds change: with -textures it
// holds no nested streams.
TEST_F(StreamRewrite, KindsLeftOutOfThePackageKeepTheirReferences) {
  Record(tracker_->streams, "/n/set.rib");
  Resolve(*tracker_, "/n/set.rib", "/n/set.rib");
  SetPackagedName("/n/set.rib", "set.rib");
  const std::string nesting =
      "Evaluate \"type\" \"string\" 1 \"vrxstream\" \"filename\" \"string\" 1 \"/n/set.rib\"\n";
  std::string source = dir_.WriteFile("shot.rib", stream_ + nesting);
  EXPECT_EQ(Rewrite(source, {"-textures"}), "");
  EXPECT_EQ(ZpReadWholeFile(package_ + "/shot.rib"), rewritten_ + nesting);
}

// Without vornex, a gzip ASCII stream is read and written through zlib; a
// binary one cannot be rewritten, and is left out rather than written empty
// or cut, which leaves the package incomplete.
TEST_F(StreamRewrite, WithoutVornexAGzipStreamStaysGzipAndABinaryOneIsLeftOut) {
  ZpScopedEnv path("PATH", PathWith({}).c_str());
  std::string source = Gzipped(stream_, dir_ / "shot.rib");
  EXPECT_EQ(Rewrite(source), "\n#Could not read '" + source +
                                 "' through vornex (vornex was not found): rewriting it as "
                                 "plain text, gzip-compressed\n\n");
  std::string packaged = ZpReadWholeFile(package_ + "/shot.rib");
  ASSERT_GE(packaged.size(), 2u);
  EXPECT_EQ(packaged.substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(Gunzipped(package_ + "/shot.rib"), rewritten_);
  EXPECT_FALSE(PackageIsIncomplete());

  std::string binary = Gzipped(stream_ + "\x90\x01", dir_ / "binary.rib");
  dir_.WriteFile("pkg/binary.rib", "left from an earlier run");
  EXPECT_EQ(Rewrite(binary), "\n#Could not read '" + binary +
                                 "' through vornex (vornex was not found): left out of the "
                                 "package\n\n");
  EXPECT_FALSE(ZpFileExists((package_ + "/binary.rib").c_str()));
  EXPECT_TRUE(PackageIsIncomplete());
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

// A full disk (here a file-size limit, which makes a write fail as one
// would): the stream is reported, no cut-off copy takes its name, and what
// an earlier run left there stays whole.
TEST_F(StreamRewrite, AFailedWriteIsReportedAndLeavesTheDestinationAlone) {
  std::string big;
  while (big.size() < 64 * 1024) big += stream_;
  std::string source = dir_.WriteFile("shot.rib", big);
  std::string destination = package_ + "/shot.rib";
  dir_.WriteFile("pkg/shot.rib", "an earlier run's copy");
  // Through vornex, then without it (the stream rewritten from the file).
  for (std::vector<std::string> dirs : {std::vector<std::string>{StandinDir("vornex")},
                                        std::vector<std::string>{}}) {
    ZpScopedEnv path("PATH", PathWith(dirs).c_str());
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string err = Rewrite(source);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_NE(err.find("\n#Could not write '" + destination + "'\n\n"), std::string::npos)
        << err;
    EXPECT_EQ(ZpReadWholeFile(destination), "an earlier run's copy");
    EXPECT_TRUE(PackageIsIncomplete());
  }
}

// A symbolic link at the packaged name is replaced, never written through.
TEST_F(StreamRewrite, ALinkAtThePackagedNameIsReplacedNotFollowed) {
  std::string source = dir_.WriteFile("shot.rib", stream_);
  std::string outside = dir_.WriteFile("outside.rib", "not the package's");
  std::string destination = package_ + "/shot.rib";
  ASSERT_EQ(symlink(outside.c_str(), destination.c_str()), 0);
  EXPECT_EQ(Rewrite(source), "");
  EXPECT_EQ(ZpReadWholeFile(outside), "not the package's");
  EXPECT_EQ(ZpReadWholeFile(destination), rewritten_);
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
  // Also with -binary, where the shell's redirection would fail first.
  for (std::vector<std::string> extra : {std::vector<std::string>{},
                                         std::vector<std::string>{"-binary"}})
    EXPECT_EQ(Rewrite(source, extra),
              "#Cannot write or create file '" + package_ + "/no/such/dir/shot.rib'\n");
}

}  // namespace

// Whether tracwell can rewrite a stream itself: ASCII text, plain or gzip,
// where bytes past 0x7F appear only inside strings and comments (after a
// backslash in a string, even a quote is the string's own), also across the
// blocks the file is read in.
TEST(AsciiFormTest, HighBytesOnlyInStringsAndComments) {
  ZpTestDir dir;
  const std::string block(65534, 'a');
  struct Case {
    std::string text;
    AsciiForm form;
  } cases[] = {
      {"Sphere 1 -1 1 360\n", AsciiForm::Plain},
      {"Attribute \"user\" \"string s\" [\"caf\xc3\xa9\"]\n", AsciiForm::Plain},
      {"# caf\xc3\xa9\nSphere 1 -1 1 360\n", AsciiForm::Plain},
      {"Sphere 1 -1 1 360 \xc3\xa9\n", AsciiForm::None},
      {"# comment\n\xc3\xa9", AsciiForm::None},
      {"\"a\\\"\xc3\xa9\"", AsciiForm::Plain},
      {"\"a\\\\\"\xc3\xa9", AsciiForm::None},
      {std::string("\x80\x01\x02", 3), AsciiForm::None},
      {"\"" + block + "\\\"\xc3\xa9\"", AsciiForm::Plain},
      {"\"" + block + "\"\"\xc3\xa9\"", AsciiForm::Plain},
      {"\"" + block + "\\\\\"\xc3\xa9", AsciiForm::None},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string plain = dir.WriteFile("s" + std::to_string(i) + ".rib", c.text);
    EXPECT_EQ(AsciiFormOf(plain.c_str()), c.form) << i;
    std::string gzip = Gzipped(c.text, dir / ("s" + std::to_string(i) + ".rib.gz"));
    EXPECT_EQ(AsciiFormOf(gzip.c_str()), c.form == AsciiForm::Plain ? AsciiForm::Gzip : c.form)
        << i;
    ++i;
  }
  EXPECT_EQ(AsciiFormOf((dir / "absent.rib").c_str()), AsciiForm::None);
}
