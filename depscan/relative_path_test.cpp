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
      {{"/da"}, "/data/tex/wood.tx", "ta/tex/wood.tx"},  // a plain byte prefix
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

}  // namespace
