#include "package_sources.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "packaging_test_support.h"

namespace {

using PackageSources = PackagedNamesTest;

// Sources are known by identity, not by name: a second name of a source (a
// hard link, a symbolic link) is refused as well.
TEST_F(PackageSources, DestinationsThatAreSourcesAreRefused) {
  ZpTestDir dir;
  std::string texture = dir.WriteFile("wood.tif", "wood");
  std::string stream = dir.WriteFile("shot.rib", "shot");
  std::string other = dir.WriteFile("other.tif", "not in the package");
  ASSERT_EQ(link(texture.c_str(), (dir / "hard.tif").c_str()), 0);
  ASSERT_EQ(symlink(stream.c_str(), (dir / "soft.rib").c_str()), 0);
  SetPackagedName(texture, "wood.tif");
  SetPackagedName(stream, "shot.rib");
  IndexPackageSources();

  const struct {
    std::string source, destination, message;
  } cases[] = {
      {texture, texture, "they are the same file"},
      {texture, dir / "hard.tif", "they are the same file"},
      {texture, stream, "that would overwrite '" + stream + "'"},
      {stream, dir / "hard.tif", "that would overwrite '" + texture + "'"},
      {texture, dir / "soft.rib", "that would overwrite '" + stream + "'"},
      {texture, other, ""},
      {texture, dir / "new.tif", ""},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    bool allowed = MayWritePackageFile(c.source, c.destination);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(allowed, c.message.empty()) << c.destination;
    EXPECT_EQ(err, c.message.empty() ? "" : "\n#Not writing '" + c.source + "' as '" +
                                                c.destination + "': " + c.message + "\n\n");
  }
  EXPECT_EQ(ZpReadWholeFile(texture), "wood");
  EXPECT_EQ(ZpReadWholeFile(stream), "shot");
}

}  // namespace
