#include "file_utils.h"

#include "test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info;
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

int CountEntries(const std::string& path) {
  int n = 0;
  if (DIR* d = opendir(path.c_str())) {
    while (struct dirent* e = readdir(d)) n += strcmp(e->d_name, ".") && strcmp(e->d_name, "..");
    closedir(d);
  }
  return n;
}

void SetMode(const std::string& path, mode_t mode) { ASSERT_EQ(chmod(path.c_str(), mode), 0); }

TEST(FileUtilsTest, CopyCarriesContentsAndExecuteBitsOnly) {
  ZpTestDir dir;
  std::string script = dir.WriteFile("script", "#!/bin/sh\necho hi\n");
  SetMode(script, 0750);
  utimbuf old = {1000000, 1000000};
  ASSERT_EQ(utime(script.c_str(), &old), 0);

  std::string copy = dir / "copy";
  ASSERT_TRUE(ZpCopyFile(script.c_str(), copy.c_str()));
  EXPECT_EQ(ZpReadWholeFile(copy), "#!/bin/sh\necho hi\n");
  // A new file gets 0666 less the umask, plus the source's execute bits alone.
  mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ(ModeOf(copy), (0666u & ~mask) | 0110u);
  EXPECT_NE(ZpFileModificationTime(copy.c_str()), 1000000);

  // A plain file over an executable destination: the destination keeps its bits.
  std::string plain = dir.WriteFile("plain", "data");
  SetMode(plain, 0600);
  std::string tool = dir.WriteFile("tool", "a much longer old text");
  SetMode(tool, 0755);
  ASSERT_TRUE(ZpCopyFile(plain.c_str(), tool.c_str()));
  EXPECT_EQ(ZpReadWholeFile(tool), "data");
  EXPECT_EQ(ModeOf(tool), 0755u);
}

TEST(FileUtilsTest, CopyOfEmptyLargeAndMissingSources) {
  ZpTestDir dir;
  std::string empty = dir.WriteFile("empty", "");
  std::string emptyCopy = dir / "empty.copy";
  EXPECT_TRUE(ZpCopyFile(empty.c_str(), emptyCopy.c_str()));
  EXPECT_TRUE(ZpFileExists(emptyCopy.c_str()));
  EXPECT_EQ(ZpFileSize(emptyCopy.c_str()), 0);

  // More than two of the 1 MiB copy blocks, with a pattern that shows misplaced blocks.
  std::string big;
  for (int i = 0; big.size() < (5u << 19) + 17; ++i) big += std::to_string(i) + ",";
  std::string large = dir.WriteFile("large", big);
  std::string largeCopy = dir / "large.copy";
  EXPECT_TRUE(ZpCopyFile(large.c_str(), largeCopy.c_str()));
  EXPECT_TRUE(ZpReadWholeFile(largeCopy) == big);

  std::string missingCopy = dir / "missing.copy";
  EXPECT_FALSE(ZpCopyFile((dir / "missing").c_str(), missingCopy.c_str()));
  EXPECT_FALSE(ZpFileExists(missingCopy.c_str()));
}

// Sources that the file system cannot copy by itself: a pipe, and a /proc
// file that reports no size but reads as text.
TEST(FileUtilsTest, CopyOfSourcesWithoutASizeReadsThemWhole) {
  ZpTestDir dir;
  std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string text(3u << 19, 'p');  // more than one copy block
  std::thread writer([&] {
    std::FILE* f = std::fopen(fifo.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  });
  std::string fromPipe = dir / "from-pipe";
  EXPECT_TRUE(ZpCopyFile(fifo.c_str(), fromPipe.c_str()));
  writer.join();
  EXPECT_TRUE(ZpReadWholeFile(fromPipe) == text);

  std::string status = dir / "status";
  EXPECT_TRUE(ZpCopyFile("/proc/self/status", status.c_str()));
  EXPECT_EQ(ZpReadWholeFile(status).rfind("Name:", 0), 0u);
}

TEST(FileUtilsTest, CopyOntoTheSameFileIsRefusedAndLeavesItWhole) {
  ZpTestDir dir;
  std::string file = dir.WriteFile("precious", "do not lose me");
  std::string hardLink = dir / "hard";
  std::string softLink = dir / "soft";
  ASSERT_EQ(link(file.c_str(), hardLink.c_str()), 0);
  ASSERT_EQ(symlink(file.c_str(), softLink.c_str()), 0);
  for (const std::string& other : {file, hardLink, softLink, dir / "./precious"}) {
    EXPECT_FALSE(ZpCopyFile(file.c_str(), other.c_str())) << other;
    EXPECT_EQ(ZpReadWholeFile(file), "do not lose me") << other;
  }
}

TEST(FileUtilsTest, MoveRenamesLinksOrRefusesAsAsked) {
  ZpTestDir dir;
  std::string source = dir.WriteFile("source", "new");
  EXPECT_TRUE(ZpMoveFile(source.c_str(), source.c_str(), false));
  EXPECT_EQ(ZpReadWholeFile(source), "new");

  std::string taken = dir.WriteFile("taken", "old");
  EXPECT_FALSE(ZpMoveFile(source.c_str(), taken.c_str(), false));
  EXPECT_EQ(ZpReadWholeFile(source), "new");
  EXPECT_EQ(ZpReadWholeFile(taken), "old");

  EXPECT_TRUE(ZpMoveFile(source.c_str(), taken.c_str(), true));
  EXPECT_FALSE(ZpFileExists(source.c_str()));
  EXPECT_EQ(ZpReadWholeFile(taken), "new");

  std::string fresh = dir / "fresh";
  EXPECT_TRUE(ZpMoveFile(taken.c_str(), fresh.c_str(), false));
  EXPECT_FALSE(ZpFileExists(taken.c_str()));
  EXPECT_EQ(ZpReadWholeFile(fresh), "new");

  EXPECT_FALSE(ZpMoveFile((dir / "missing").c_str(), (dir / "any").c_str(), true));
  EXPECT_FALSE(ZpFileExists((dir / "any").c_str()));
}

TEST(FileUtilsTest, MoveAcrossFileSystemsCopiesOrRefuses) {
  ZpTestDir dir;
  struct stat here, shm;
  if (stat("/dev/shm", &shm) != 0 || stat(dir.Path().c_str(), &here) != 0 ||
      here.st_dev == shm.st_dev || !ZpFileWritable("/dev/shm")) {
    GTEST_SKIP() << "needs /dev/shm on another file system";
  }
  std::string source = dir.WriteFile("source", "travelling");
  std::string destination = "/dev/shm/zp_move_test_" + std::to_string(getpid());
  FILE* old = fopen(destination.c_str(), "wb");
  ASSERT_NE(old, nullptr);
  fputs("old", old);
  fclose(old);

  EXPECT_FALSE(ZpMoveFile(source.c_str(), destination.c_str(), false));
  EXPECT_EQ(ZpReadWholeFile(destination), "old");
  EXPECT_TRUE(ZpFileExists(source.c_str()));

  EXPECT_TRUE(ZpMoveFile(source.c_str(), destination.c_str(), true));
  EXPECT_EQ(ZpReadWholeFile(destination), "travelling");
  EXPECT_FALSE(ZpFileExists(source.c_str()));
  unlink(destination.c_str());
}

TEST(FileUtilsTest, StatBasedQueriesGiveZeroOrFalseForMissingFiles) {
  ZpTestDir dir;
  std::string missing = dir / "missing";
  std::string five = dir.WriteFile("five", "12345");
  EXPECT_EQ(ZpFileSize(missing.c_str()), 0);
  EXPECT_EQ(ZpFileSize(dir.WriteFile("empty", "").c_str()), 0);
  EXPECT_EQ(ZpFileSize(five.c_str()), 5);
  EXPECT_EQ(ZpFileModificationTime(missing.c_str()), 0);
  EXPECT_EQ(ZpFileAccessTime(missing.c_str()), 0);

  EXPECT_FALSE(ZpTouchFile(missing.c_str()));
  EXPECT_FALSE(ZpFileExists(missing.c_str()));
  utimbuf old = {1000000, 1000000};
  ASSERT_EQ(utime(five.c_str(), &old), 0);
  EXPECT_TRUE(ZpTouchFile(five.c_str()));
  EXPECT_GT(ZpFileModificationTime(five.c_str()), 1000000);

  std::string dangling = dir / "dangling";
  ASSERT_EQ(symlink(missing.c_str(), dangling.c_str()), 0);
  EXPECT_FALSE(ZpFileExists(dangling.c_str()));
  EXPECT_TRUE(ZpFileReadable(five.c_str()));
  EXPECT_TRUE(ZpRemoveFile(five.c_str()));
  EXPECT_FALSE(ZpRemoveFile(five.c_str()));
  EXPECT_EQ(ZpRealPath(""), "");
  EXPECT_EQ(ZpRealPath(missing), "");
}

TEST(FileUtilsTest, FileSystemFacts) {
  char name[8] = "junk";
  ZpFileSystemName("/no/such/path", name);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(ZpFileSystemType("/no/such/path"), 0);
  EXPECT_EQ(ZpFreeDiskSpace("/no/such/path"), 0u);
  EXPECT_FALSE(ZpIsMemoryFileSystem("/no/such/path"));

  ZpFileSystemName("/proc", name);  // procfs is not in the table
  EXPECT_STREQ(name, "");
  EXPECT_EQ(ZpFileSystemType("/proc"), 0x9FA0);

  ZpTestDir dir;
  int64_t type = ZpFileSystemType(dir.Path().c_str());
  ZpFileSystemName(dir.Path().c_str(), name);
  if (type == 0xEF53) {
    EXPECT_STREQ(name, "ext2");  // ext4 shares the ext2 magic
  }
  if (type == 0x01021994) {
    EXPECT_TRUE(ZpIsMemoryFileSystem(dir.Path()));
  }
  EXPECT_GT(ZpMaxOpenFiles(), 0u);
  EXPECT_EQ(ZpCloseFile(nullptr), EOF);
}

TEST(FileUtilsTest, TemporaryFilesFallBackThroughTheDirectoriesAndLeaveNothing) {
  ZpTestDir dir;
  std::string second = dir.MakeDir("second");
  ZpScopedEnv zpTmp("ZP_TMPDIR", (dir / "does-not-exist").c_str());
  ZpScopedEnv tmp("TMPDIR", second.c_str());

  char* name = ZpTemporaryFileName("pre");
  ASSERT_NE(name, nullptr);
  std::string made = name;
  free(name);
  EXPECT_EQ(made.rfind(second + "/pre", 0), 0u) << made;
  EXPECT_EQ(made.size(), second.size() + 1 + 3 + 6);
  EXPECT_TRUE(ZpFileExists(made.c_str()));
  EXPECT_EQ(ZpFileSize(made.c_str()), 0);
  ASSERT_TRUE(ZpRemoveFile(made.c_str()));

  FILE* file = ZpTemporaryFile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(CountEntries(second), 0);  // unlinked at once
  fputs("round trip", file);
  rewind(file);
  char back[16] = {};
  EXPECT_NE(fgets(back, sizeof back, file), nullptr);
  EXPECT_STREQ(back, "round trip");
  EXPECT_EQ(ZpCloseFile(file), 0);

  // Neither variable usable: /tmp.
  tmp.Set((dir / "also-missing").c_str());
  name = ZpTemporaryFileName("zp_fallback_");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name).rfind("/tmp/zp_fallback_", 0), 0u) << name;
  ZpRemoveFile(name);
  free(name);
}

}  // namespace
