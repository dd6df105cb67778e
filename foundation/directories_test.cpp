#include "directories.h"

#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace {

using Visits = std::set<std::pair<std::string, std::string>>;  // (fullPath, name)

void Record(const char* fullPath, const char* name, void* user) {
  static_cast<Visits*>(user)->insert({fullPath, name});
}

// A bound Unix socket at `path`; the caller closes the descriptor.
int BindSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  EXPECT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  EXPECT_LT(path.size(), sizeof address.sun_path);
  strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

TEST(DirectoriesTest, IsDirectoryTestsTheDirectoryBitWithoutFollowingLinks) {
  ZpTestDir dir;
  std::string sub = dir.MakeDir("sub");
  std::string file = dir.WriteFile("file", "x");
  std::string link = dir / "link";
  ASSERT_EQ(symlink(sub.c_str(), link.c_str()), 0);

  EXPECT_TRUE(ZpIsDirectory(sub.c_str()));
  EXPECT_FALSE(ZpIsDirectory(link.c_str()));
  EXPECT_FALSE(ZpIsDirectory(file.c_str()));
  EXPECT_FALSE(ZpIsDirectory((dir / "missing").c_str()));

  // A socket's type code shares the directory bit.
  std::string socketPath = dir / "sock";
  int fd = BindSocket(socketPath);
  EXPECT_TRUE(ZpIsDirectory(socketPath.c_str()));
  close(fd);
}

TEST(DirectoriesTest, WalkReportsOneLevelOrTheEntriesOfTheSubdirectories) {
  ZpTestDir dir;
  dir.WriteFile("a", "");
  dir.WriteFile("b", "");
  dir.MakeDir("s");
  dir.WriteFile("s/inner", "");
  dir.MakeDir("s/deeper");
  dir.WriteFile("s/deeper/hidden", "");
  ASSERT_EQ(symlink((dir / "s").c_str(), (dir / "linked").c_str()), 0);

  Visits flat;
  EXPECT_TRUE(ZpWalkDirectory(dir.Path().c_str(), Record, &flat, false));
  EXPECT_EQ(flat, (Visits{{dir / "a", "a"}, {dir / "b", "b"}, {dir / "s", "s"},
                          {dir / "linked", "linked"}}));

  // The link to s is not followed, and nothing below s/deeper is reported.
  Visits nested;
  EXPECT_TRUE(ZpWalkDirectory(dir.Path().c_str(), Record, &nested, true));
  EXPECT_EQ(nested, (Visits{{dir / "s/inner", "inner"}, {dir / "s/deeper", "deeper"}}));

  Visits withSlash;
  EXPECT_TRUE(ZpWalkDirectory((dir.Path() + "/").c_str(), Record, &withSlash, false));
  EXPECT_EQ(withSlash.count({dir.Path() + "//a", "a"}), 1u);
}

TEST(DirectoriesTest, WalkOfMissingOrEmptyDirectoryCallsNothing) {
  ZpTestDir dir;
  Visits visits;
  EXPECT_FALSE(ZpWalkDirectory((dir / "missing").c_str(), Record, &visits, false));
  EXPECT_TRUE(ZpWalkDirectory(dir.Path().c_str(), Record, &visits, false));
  EXPECT_TRUE(ZpWalkDirectory(dir.Path().c_str(), Record, &visits, true));
  EXPECT_TRUE(visits.empty());
}

TEST(DirectoriesTest, WalkFailsWhenASubdirectoryCannotBeOpenedButWalksTheOthers) {
  ZpTestDir dir;
  // The socket passes the directory-bit test but cannot be opened as one.
  int fd = BindSocket(dir / "sock");
  dir.MakeDir("open");
  dir.WriteFile("open/x", "");
  Visits visits;
  EXPECT_FALSE(ZpWalkDirectory(dir.Path().c_str(), Record, &visits, true));
  EXPECT_EQ(visits, (Visits{{dir / "open/x", "x"}}));
  close(fd);
}

TEST(DirectoriesTest, WalkBuildsFullPathsBeyondPathMax) {
  ZpTestDir dir;
  // A directory whose name still fits the system's limit, holding an entry
  // whose full path does not: 20 levels of 200 bytes, then a 250-byte name.
  const std::string component(200, 'd');
  const int levels = 20;
  ZpChangeDirectory start(dir.Path());
  std::string relative;
  for (int i = 0; i < levels; ++i) {
    ASSERT_EQ(mkdir(component.c_str(), 0755), 0);
    ASSERT_EQ(chdir(component.c_str()), 0);
    relative += (relative.empty() ? "" : "/") + component;
  }
  const std::string name(250, 'f');
  ASSERT_EQ(close(creat(name.c_str(), 0644)), 0);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  ASSERT_GT(relative.size() + 1 + name.size(), 4096u);

  Visits visits;
  EXPECT_TRUE(ZpWalkDirectory(relative.c_str(), Record, &visits, false));
  EXPECT_EQ(visits, (Visits{{relative + "/" + name, name}}));

  // Too deep for a path-based cleanup: climb out level by level.
  ASSERT_EQ(chdir(relative.c_str()), 0);
  ASSERT_EQ(unlink(name.c_str()), 0);
  for (int i = 0; i < levels; ++i) {
    ASSERT_EQ(chdir(".."), 0);
    ASSERT_EQ(rmdir(component.c_str()), 0);
  }
}

TEST(DirectoriesTest, MakeDirectoryHonoursTheUmaskAndRefusesAnExistingPath) {
  ZpTestDir dir;
  for (mode_t mask : {mode_t(022), mode_t(077), mode_t(0)}) {
    std::string path = dir / ("made" + std::to_string(mask));
    mode_t saved = umask(mask);
    bool made = ZpMakeDirectory(path.c_str());
    umask(saved);
    ASSERT_TRUE(made);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    // Never set-id or sticky, whatever the umask lets through.
    EXPECT_EQ(info.st_mode & 07777, mode_t(0777 & ~mask)) << "umask " << mask;
    EXPECT_FALSE(ZpMakeDirectory(path.c_str()));
  }
  EXPECT_FALSE(ZpMakeDirectory((dir / "no/parent").c_str()));
}

}  // namespace
