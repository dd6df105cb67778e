#include "stream_routes.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string Texture(const std::string& value) {
  return "SetAttribute \"h\" \"texturename\" \"string\" 1 \"" + value + "\"\n";
}

TEST(StreamDirectoryStrings, AreTheStringsThatBeginWithTheStreamDirectory) {
  ZpTestDir dir;
  std::string text = Texture("${RIBDIR}/a.tif") + Texture("${VRXDIR}b") +
                     Texture("\\$\\{RIBDIR}/c") + Texture("/abs/${RIBDIR}/d") + "# \"${RIBDIR}/e\"\n";
  std::string plain = dir.WriteFile("plain.rib", text);
  std::string gzipped = dir / "gzipped.rib";
  gzFile file = gzopen(gzipped.c_str(), "wb");
  gzwrite(file, text.data(), unsigned(text.size()));
  gzclose(file);
  const std::vector<std::string> expected = {"/a.tif", "b", "/c"};
  EXPECT_EQ(StreamDirectoryStrings(plain.c_str()), expected);
  EXPECT_EQ(StreamDirectoryStrings(gzipped.c_str()), expected);
  EXPECT_TRUE(StreamDirectoryStrings((dir / "none.rib").c_str()).empty());
}

// Routes read a stream alike when its "${RIBDIR}" strings lead to the same
// recorded files through each, or to nothing recorded.
TEST(StreamRouteClasses, RoutesThatReadAlikeShareAClass) {
  ZpTestDir dir;
  for (const char* folder : {"a", "b", "c", "d"}) dir.MakeDir(folder);
  dir.WriteFile("a/n.rib", Texture("${RIBDIR}/t.tif") + Texture("${RIBDIR}/gone.tif"));
  dir.WriteFile("a/t.tif", "a");
  dir.WriteFile("b/t.tif", "b");
  ASSERT_EQ(symlink("../a/t.tif", (dir / "c/t.tif").c_str()), 0);  // the same file as a's
  for (const char* folder : {"b", "c", "d"})
    ASSERT_EQ(symlink("../a/n.rib", (dir / (std::string(folder) + "/n.rib")).c_str()), 0);
  dir.WriteFile("a/m.rib", Texture(dir / "a/t.tif"));  // no "${RIBDIR}" at all
  ASSERT_EQ(symlink("../a/m.rib", (dir / "b/m.rib").c_str()), 0);
  StreamRouteClasses routes;
  for (const char* path : {"a/n.rib", "b/n.rib", "c/n.rib", "d/n.rib", "a/m.rib", "b/m.rib"})
    routes.Add(dir / path);
  std::string recordedFiles[] = {dir / "a/t.tif", dir / "b/t.tif", dir / "c/t.tif"};
  routes.Classify([&](const std::string& path) {
    for (const std::string& file : recordedFiles)
      if (path == file) return Recorded::File;
    return Recorded::Nothing;  // gone.tif, and d/t.tif, which does not exist
  });
  auto mark = [&](const char* path) {
    FileIdentity file, mark{0, 0};
    EXPECT_TRUE(routes.ClassOf(dir / path, &file, &mark)) << path;
    return mark;
  };
  EXPECT_EQ(mark("c/n.rib"), mark("a/n.rib"));
  EXPECT_NE(mark("b/n.rib"), mark("a/n.rib"));
  EXPECT_NE(mark("d/n.rib"), mark("a/n.rib"));
  EXPECT_NE(mark("d/n.rib"), mark("b/n.rib"));
  EXPECT_EQ(mark("b/m.rib"), mark("a/m.rib"));
  FileIdentity file, unused;
  EXPECT_FALSE(routes.ClassOf(dir / "e/n.rib", &file, &unused));
}

}  // namespace
