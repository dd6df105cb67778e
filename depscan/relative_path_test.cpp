#include "relative_path.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <utility>
#include <vector>

#include "test_support.h"
#include "tool_options.h"

namespace {

// Options whose roots are the given texts, as "-r" words would give them.
struct RootedOptions {
  explicit RootedOptions(std::vector<const char*> roots) : options(1, nullptr) {
    options.roots = std::move(roots);
  }
  ToolOptions options;
};

TEST(SplitRelativePathTest, NamesBelowRootsOrBareFileNames) {
  struct Case {
    std::vector<const char*> roots;
    const char* path;
    const char* name;
  } cases[] = {
      {{}, "/data/tex/wood.tx", "wood.tx"},
      {{"/data"}, "/data/tex/wood.tx", "tex/wood.tx"},
      {{"/data/"}, "/data/tex/wood.tx", "tex/wood.tx"},
      {{"/data", "/data/tex"}, "/data/tex/wood.tx", "tex/wood.tx"},  // first root decides
      {{"/other", "/data/tex"}, "/data/tex/wood.tx", "wood.tx"},
      // Roots match whole folders only.
      {{"/da"}, "/data/tex/wood.tx", "wood.tx"},
      {{"/show/a"}, "/show/ab/t.tif", "t.tif"},
      {{"/show/ab", "/show/a"}, "/show/a/t.tif", "t.tif"},
      {{"/"}, "/data/tex/wood.tx", "data/tex/wood.tx"},
      {{"/data//"}, "/data/tex/wood.tx", "tex/wood.tx"},
      {{"D:\\te"}, "D:\\tex\\wood.tx", "wood.tx"},
      {{"/data"}, "/data//tex/wood.tx", "tex/wood.tx"},
      {{"/data"}, "/data", ""},
      {{"/data"}, "/data/", "/"},  // a lone separator stays
      {{}, "/data/tex/", ""},
      {{"wood"}, "wood.tx", "wood.tx"},  // no separator: its own name
      {{}, "D:\\tex\\wood.tx", "wood.tx"},
      {{"D:\\tex"}, "D:\\tex\\wood.tx", "wood.tx"},
      {{"/r"}, "/r/one/wood.tx", "one/wood.tx"},
      {{"/r"}, "/s/one/wood.tx", "wood.tx"},
      // "." steps and repeated separators do not make another name.
      {{"/data"}, "/data/./tex//./wood.tx", "tex/wood.tx"},
      {{"/data/./"}, "/data/tex/wood.tx", "tex/wood.tx"},
      {{"/data"}, "/data/x/../tex/wood.tx", "tex/wood.tx"},
      {{"/data"}, "/other/../data/tex/wood.tx", "tex/wood.tx"},
  };
  for (const Case& c : cases) {
    RootedOptions rooted(c.roots);
    EXPECT_EQ(SplitRelativePath(rooted.options, c.path), c.name) << c.path;
  }
}

// A relative root names a folder of the working directory; so does a
// relative path (a stream named on the command line).
TEST(SplitRelativePathTest, RelativeRootsAndPathsAreTakenFromTheWorkingDirectory) {
  ZpTestDir dir;
  dir.MakeDir("show");
  dir.MakeDir("show/src");
  ZpChangeDirectory inside((dir / "show/src").c_str());
  std::string src = dir / "show/src";
  struct Case {
    std::vector<const char*> roots;
    std::string path;
    const char* name;
  } cases[] = {
      {{"."}, src + "/tex/a.tif", "tex/a.tif"},
      {{"./"}, src + "/tex/a.tif", "tex/a.tif"},
      {{"../src"}, src + "/tex/a.tif", "tex/a.tif"},
      {{".."}, src + "/tex/a.tif", "src/tex/a.tif"},
      {{"tex"}, src + "/tex/a.tif", "a.tif"},
      {{"tex"}, src + "/texture/a.tif", "a.tif"},
      {{"."}, "seq/shot.rib", "seq/shot.rib"},
      {{"."}, "../src/seq/shot.rib", "seq/shot.rib"},
      {{"."}, dir / "show/other/a.tif", "a.tif"},
      {{"."}, "shot.rib", "shot.rib"},  // no separator: its own name
  };
  for (const Case& c : cases) {
    RootedOptions rooted(c.roots);
    EXPECT_EQ(SplitRelativePath(rooted.options, c.path), c.name) << c.roots[0] << " " << c.path;
  }
}

TEST(LexicallyNormalPath, DropsDotStepsAndClimbsOnlyWhereNoLinkIsCrossed) {
  ZpTestDir dir;
  dir.MakeDir("real");
  dir.MakeDir("real/sub");
  ASSERT_EQ(symlink((dir / "real/sub").c_str(), (dir / "link").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"/a/./b//c", "/a/b/c"},
      {"/a/b/../c", "/a/c"},
      {"/../a", "/a"},
      {"a/../../b", "../b"},
      {"./a/", "a"},
      {".", "."},
      {dir / "link/../x", dir / "link/../x"},  // the link's parent is real/, not the folder
      {dir / "real/sub/../x", dir / "real/x"},
  };
  for (const auto& [path, normal] : cases) EXPECT_EQ(LexicallyNormalPath(path), normal) << path;
}

TEST(RecordedSpelling, IsTheNormalFormWithATrailingSeparatorKept) {
  ZpTestDir dir;
  dir.MakeDir("real");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"/cwd/./tex/a.tif", "/cwd/tex/a.tif"},
      {"/cwd/tex//a.tif", "/cwd/tex/a.tif"},
      {"/cwd/seq/../tex/a.tif", "/cwd/tex/a.tif"},
      {"/cwd/tex/a.tif/", "/cwd/tex/a.tif/"},
      {"/cwd/tex/.//", "/cwd/tex/"},
      {"/", "/"},
  };
  for (const auto& [path, spelling] : cases) {
    EXPECT_EQ(RecordedSpelling(path), spelling) << path;
    EXPECT_TRUE(IsLexicallyNormal(spelling)) << spelling;
    EXPECT_EQ(IsLexicallyNormal(path), path == spelling) << path;
  }
  // Through a link, ".." leads elsewhere than the folder before it.
  EXPECT_EQ(RecordedSpelling(dir / "link/.//../a.tif"), dir / "link/../a.tif");
}

}  // namespace
