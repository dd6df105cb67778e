#include "package_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "interruption.h"
#include "packaging_test_support.h"
#include "process.h"
#include "test_support.h"

namespace {

std::unique_ptr<PackageDirectory> Open(const std::string& path) {
  std::string error;
  auto folder = PackageDirectory::OpenPackage(path, &error);
  EXPECT_NE(folder, nullptr) << error;
  return folder;
}

}  // namespace

// The final name appears only at the commit, holding the whole file; until
// then only the temporary file is there, next to it.
TEST(PackageWriterTest, WrittenUnderATemporaryNameThenRenamed) {
  ZpTestDir dir;
  dir.WriteFile("a.tif", "old");
  auto package = Open(dir.Path());
  std::string error;
  auto file = PackageFile::Create(*package, "a.tif", &error);
  ASSERT_NE(file, nullptr) << error;
  ASSERT_TRUE(file->Write("new ", 4));
  ASSERT_TRUE(file->Write("bytes", 5));
  std::set<std::string> during = FolderNames(dir.Path());
  EXPECT_EQ(during.size(), 2u);
  EXPECT_EQ(ZpReadWholeFile(dir / "a.tif"), "old");
  EXPECT_EQ(ZpReadWholeFile(file->TemporaryPath()), "new bytes");
  ASSERT_TRUE(file->Commit());
  EXPECT_EQ(FolderNames(dir.Path()), std::set<std::string>{"a.tif"});
  EXPECT_EQ(ZpReadWholeFile(dir / "a.tif"), "new bytes");
}

// The temporary file keeps the final name's extension; a stream over the
// file is flushed by the commit.
TEST(PackageWriterTest, AStreamOverTheFileIsCommittedWhole) {
  ZpTestDir dir;
  auto package = Open(dir.Path());
  std::string error;
  auto file = PackageFile::Create(*package, "shot.rib", &error);
  ASSERT_NE(file, nullptr) << error;
  std::set<std::string> during = FolderNames(dir.Path());
  ASSERT_EQ(during.size(), 1u);
  const std::string temporary = *during.begin();
  EXPECT_EQ(temporary.compare(0, 10, ".tracwell-"), 0) << temporary;
  EXPECT_EQ(temporary.substr(temporary.size() - 9), ".part.rib") << temporary;
  FILE* out = file->Stream();
  ASSERT_NE(out, nullptr) << file->error();
  EXPECT_EQ(file->Stream(), out);
  std::fputs("Render \"x\"\n", out);
  ASSERT_TRUE(file->Commit()) << file->error();
  EXPECT_EQ(FolderNames(dir.Path()), std::set<std::string>{"shot.rib"});
  EXPECT_EQ(ZpReadWholeFile(dir / "shot.rib"), "Render \"x\"\n");
}

// Abort, destruction without a commit and a commit that cannot rename (a
// folder holds the name) leave the folder as it was.
TEST(PackageWriterTest, FailureRemovesTheTemporaryFile) {
  ZpTestDir dir;
  dir.WriteFile("kept.tif", "kept");
  ASSERT_EQ(mkdir((dir / "busy").c_str(), 0755), 0);
  dir.WriteFile("busy/inside", "x");
  auto package = Open(dir.Path());
  const std::set<std::string> before = FolderNames(dir.Path());
  std::string error;
  auto aborted = PackageFile::Create(*package, "kept.tif", &error);
  ASSERT_NE(aborted, nullptr);
  aborted->Write("half", 4);
  aborted->Abort();
  EXPECT_EQ(FolderNames(dir.Path()), before);
  {
    auto dropped = PackageFile::Create(*package, "kept.tif", &error);
    ASSERT_NE(dropped, nullptr);
    dropped->Write("half", 4);
  }
  EXPECT_EQ(FolderNames(dir.Path()), before);
  auto blocked = PackageFile::Create(*package, "busy", &error);
  ASSERT_NE(blocked, nullptr);
  EXPECT_FALSE(blocked->Commit());
  EXPECT_NE(blocked->error(), "");
  EXPECT_EQ(FolderNames(dir.Path()), before);
  EXPECT_EQ(ZpReadWholeFile(dir / "kept.tif"), "kept");
}

// Under a file-size limit the write fails (SIGXFSZ is ignored) and nothing
// is left; without that, the signal would end the process silently.
TEST(PackageWriterTest, AFileSizeLimitIsAWriteError) {
  ZpTestDir dir;
  ZpChildResult child = ZpRunInChild([&] {
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    auto package = PackageDirectory::OpenPackage(dir.Path(), &error);
    auto file = PackageFile::Create(*package, "big.tif", &error);
    std::string data(8192, 'x');
    bool written = file->Write(data.data(), data.size());
    bool committed = written && file->Commit();
    fputs(written ? "written\n" : ("failed: " + file->error() + "\n").c_str(), stderr);
    file.reset();  // as the caller's failure path does
    // The same through a stream: the commit sees the failed write.
    auto streamed = PackageFile::Create(*package, "big.rib", &error);
    std::fwrite(data.data(), 1, data.size(), streamed->Stream());
    bool streamCommitted = streamed->Commit();
    fprintf(stderr, "stream: %s\n", streamed->error().c_str());
    _exit(committed || streamCommitted ? 1 : 0);
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 0)) << child.status << child.err;
  EXPECT_EQ(child.err, "failed: write: File too large\nstream: write: File too large\n");
  EXPECT_EQ(FolderNames(dir.Path()), std::set<std::string>{});
}

// No symbolic link is followed to a sub-folder, nor out of the package; a
// link standing at a final name is replaced, and its target not touched.
TEST(PackageWriterTest, SymbolicLinksAreNeverFollowed) {
  ZpTestDir dir;
  ZpTestDir outside;
  std::string target = outside.WriteFile("target.tif", "outside");
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink(outside.Path().c_str(), (dir / "linked").c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), (dir / "sub/a.tif").c_str()), 0);
  auto package = Open(dir.Path());
  std::string error;
  EXPECT_EQ(package->OpenSubfolder("linked", &error), nullptr);
  EXPECT_EQ(error, "'" + dir.Path() + "/linked' is a symbolic link");
  EXPECT_EQ(package->OpenSubfolder("sub/../linked", &error), nullptr);
  std::string leaf;
  EXPECT_EQ(package->FolderFor("linked/a.tif", &leaf, &error), nullptr);

  auto sub = package->FolderFor("./sub//a.tif", &leaf, &error);
  ASSERT_NE(sub, nullptr) << error;
  EXPECT_EQ(leaf, "a.tif");
  auto file = PackageFile::Create(*sub, leaf, &error);
  ASSERT_NE(file, nullptr) << error;
  file->Write("packaged", 8);
  ASSERT_TRUE(file->Commit());
  struct stat info;
  ASSERT_EQ(lstat((dir / "sub/a.tif").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(ZpReadWholeFile(dir / "sub/a.tif"), "packaged");
  EXPECT_EQ(ZpReadWholeFile(target), "outside");
  EXPECT_EQ(FolderNames(outside.Path()), std::set<std::string>{"target.tif"});
}

// The package folder renamed away and replaced by a link to the sources
// after it was opened: the files still go into the folder that was opened.
TEST(PackageWriterTest, AFolderSwappedForALinkReceivesNothing) {
  ZpTestDir dir;
  ZpTestDir sources;
  std::string source = sources.WriteFile("a.tif", "source bytes");
  ASSERT_EQ(mkdir((dir / "pkg").c_str(), 0755), 0);
  auto package = Open(dir / "pkg");
  ASSERT_EQ(rename((dir / "pkg").c_str(), (dir / "moved").c_str()), 0);
  ASSERT_EQ(symlink(sources.Path().c_str(), (dir / "pkg").c_str()), 0);
  std::string error;
  auto file = PackageFile::Create(*package, "a.tif", &error);
  ASSERT_NE(file, nullptr) << error;
  file->Write("shrunk", 6);
  ASSERT_TRUE(file->Commit());
  EXPECT_EQ(CopyIntoPackage(source.c_str(), *package, "b.tif", &error), CopyResult::kCopied);
  // A program given the temporary path writes into the opened folder too.
  auto written = PackageFile::Create(*package, "c.tif", &error);
  ASSERT_NE(written, nullptr) << error;
  std::string command = "printf program > " + ZpShellQuote(written->TemporaryPath().c_str());
  ASSERT_EQ(ZpRunCommand(command.c_str(), static_cast<const char*>(nullptr)), 0);
  ASSERT_TRUE(written->Commit());
  EXPECT_EQ(ZpReadWholeFile(source), "source bytes");
  EXPECT_EQ(FolderNames(sources.Path()), std::set<std::string>{"a.tif"});
  EXPECT_EQ(ZpReadWholeFile(dir / "moved/a.tif"), "shrunk");
  EXPECT_EQ(ZpReadWholeFile(dir / "moved/b.tif"), "source bytes");
  EXPECT_EQ(ZpReadWholeFile(dir / "moved/c.tif"), "program");
  EXPECT_EQ(package->OpenedPath().compare(0, 6, "/proc/"), 0) << package->OpenedPath();
}

// A second opening of the package folder waits until the first is closed.
TEST(PackageWriterTest, ASecondRunWaitsForTheFirst) {
  ZpTestDir dir;
  auto first = Open(dir.Path());
  std::atomic<bool> released{false};
  std::thread second([&] {
    auto again = Open(dir.Path());
    EXPECT_TRUE(released.load());
  });
  usleep(200 * 1000);
  released.store(true);
  first.reset();
  second.join();
}

// Only regular files are copied, each with its execute bits; a FIFO or a
// device is refused at once, without waiting for a writer or for the end.
TEST(PackageWriterTest, OnlyRegularFilesAreCopied) {
  ZpTestDir dir;
  ZpTestDir sources;
  std::string tool = sources.WriteFile("tool", "#!/bin/sh\n");
  chmod(tool.c_str(), 0755);
  std::string fifo = sources / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto package = Open(dir.Path());
  std::string error;
  ASSERT_EQ(CopyIntoPackage(tool.c_str(), *package, "tool", &error), CopyResult::kCopied);
  struct stat info;
  ASSERT_EQ(stat((dir / "tool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0111, 0111u);
  EXPECT_EQ(CopyIntoPackage(fifo.c_str(), *package, "pipe", &error), CopyResult::kNotRegular);
  EXPECT_EQ(error, "not a regular file");
  EXPECT_EQ(CopyIntoPackage("/dev/zero", *package, "zero", &error), CopyResult::kNotRegular);
  EXPECT_EQ(CopyIntoPackage((sources / "none").c_str(), *package, "none", &error),
            CopyResult::kCannotRead);
  EXPECT_EQ(FolderNames(dir.Path()), std::set<std::string>{"tool"});
}

// An interruption while a file is being written removes it.
TEST(PackageWriterTest, AnInterruptionRemovesTheFileBeingWritten) {
  ZpTestDir dir;
  dir.WriteFile("done.tif", "done");
  ZpChildResult child = ZpRunInChild([&] {
    ZpInstallInterruptHandler("interrupted");
    std::string error;
    auto package = PackageDirectory::OpenPackage(dir.Path(), &error);
    auto file = PackageFile::Create(*package, "half.tif", &error);
    file->Write("half", 4);
    raise(SIGINT);
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 130)) << child.status;
  EXPECT_EQ(FolderNames(dir.Path()), std::set<std::string>{"done.tif"});
}
