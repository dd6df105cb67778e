#include "path_strings.h"

#include "file_utils.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct SplitCase {
  const char* path;
  const char* dirName;
  const char* baseName;
};

const SplitCase kSplitCases[] = {
    {"", ".", ""},         {"name", ".", "name"},  {"/", "/", "/"},
    {"/a", "/", "a"},      {"/a/b", "/a", "b"},    {"a/b", "a", "b"},
    {"a/b/", "a", "b"},    {"a/", ".", "a"},       {"/a/", "/", "a"},
    {"//", "/", "/"},      {"a//b", "a/", "b"},    {"D:", "D:", ""},
    {"D:name", "D:", "name"}, {"D:/a", "D:/", "a"}, {"D:/", "D:/", "/"},
    {"D:a/b", "D:a", "b"}, {"1:/x", "1:", "x"},
};

std::string Backslashed(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

TEST(PathStringsTest, DirNameAndBaseNameFollowTheTableWithEitherSeparator) {
  for (const SplitCase& c : kSplitCases) {
    EXPECT_EQ(ZpDirName(c.path), c.dirName) << "'" << c.path << "'";
    EXPECT_EQ(ZpBaseName(c.path), c.baseName) << "'" << c.path << "'";
    std::string back = Backslashed(c.path);
    EXPECT_EQ(ZpDirName(back), Backslashed(c.dirName)) << "'" << back << "'";
    EXPECT_EQ(ZpBaseName(back), Backslashed(c.baseName)) << "'" << back << "'";
  }
}

TEST(PathStringsTest, CanonicalPathResolvesWhatExistsAndKeepsTheRest) {
  ZpTestDir dir;
  std::string root = dir.Resolved();
  dir.MakeDir("sub");
  dir.WriteFile("sub/file", "x");
  ASSERT_EQ(symlink((root + "/sub").c_str(), (root + "/link").c_str()), 0);

  EXPECT_EQ(ZpCanonicalPath(root + "/link/./../sub/file"), root + "/sub/file");
  EXPECT_EQ(ZpCanonicalPath(root + "/link/missing"), root + "/sub/missing");
  std::string inMissingDir = root + "/nodir/missing";
  EXPECT_EQ(ZpCanonicalPath(inMissingDir), inMissingDir);
  EXPECT_EQ(ZpCanonicalPath(""), "");
}

TEST(PathStringsTest, CurrentDirectoryIsTheWorkingDirectory) {
  ZpTestDir dir;
  ZpChangeDirectory moved(dir.Path());
  EXPECT_EQ(ZpCurrentDirectory(), dir.Resolved());
}

TEST(PathStringsTest, TemporaryPathUsesTmpdirOrTmp) {
  ZpScopedEnv tmpdir("TMPDIR", nullptr);
  char* path = ZpTemporaryPath("name");
  EXPECT_STREQ(path, "/tmp/name");
  free(path);

  tmpdir.Set("/scratch");
  path = ZpTemporaryPath("x.tif");
  EXPECT_STREQ(path, "/scratch/x.tif");
  free(path);
}

TEST(PathStringsTest, UserConfigPathFollowsHomeEvenWhenEmpty) {
  ZpScopedEnv home("HOME", "/home/u");
  EXPECT_EQ(ZpUserConfigPath("tool"), "/home/u/.config/tool");
  home.Set("");
  EXPECT_EQ(ZpUserConfigPath("tool"), "/.config/tool");
}

TEST(PathStringsTest, ExecutableAndModulePathNameThisTestProgram) {
  char* executable = ZpExecutablePath();
  ASSERT_NE(executable, nullptr);
  std::string program = executable;
  free(executable);
  EXPECT_EQ(program[0], '/');
  EXPECT_EQ(ZpBaseName(program), "foundation_tests");
  // The library is linked statically into the test program.
  EXPECT_EQ(ZpModulePath(), program);
}

// However the program is started, the module path is its file: absolute,
// without "." steps, links resolved (the installation directory is worked
// out from it).
TEST(PathStringsTest, ModulePathIsTheProgramFileForEveryStartForm) {
  if (ZpIsChild()) {
    printf("module path: %s\n", ZpModulePath().c_str());
    return;
  }
  std::string program = ZpThisProgram();
  ASSERT_FALSE(program.empty());
  ZpTestDir scratch;
  for (const ZpStartForm& form : ZpStartForms(program, scratch)) {
    std::string printed = ZpRunChild(form.command, "PathStringsTest.ModulePathIsTheProgramFileForEveryStartForm");
    EXPECT_NE(printed.find("module path: " + program + "\n"), std::string::npos) << form.name << ":\n" << printed;
  }
}

// A program file removed while it runs can no longer be resolved: the name
// it was started by is made absolute without the disk.
TEST(PathStringsTest, ModulePathOfARemovedProgramIsMadeAbsoluteByItsName) {
  if (ZpIsChild()) {
    if (const char* self = getenv("ZP_TEST_REMOVE_SELF")) unlink(self);
    printf("module path: %s\n", ZpModulePath().c_str());
    return;
  }
  ZpTestDir scratch;
  std::string folder = scratch.MakeDir("bin");
  std::string copy = folder + "/prog";
  ASSERT_EQ(link(ZpThisProgram().c_str(), copy.c_str()), 0) << copy;
  ZpScopedEnv remove("ZP_TEST_REMOVE_SELF", copy.c_str());
  std::string printed = ZpRunChild("cd '" + folder + "' && .././bin//prog",
                                   "PathStringsTest.ModulePathOfARemovedProgramIsMadeAbsoluteByItsName");
  EXPECT_NE(printed.find("module path: " + scratch.Resolved() + "/bin/prog\n"), std::string::npos) << printed;
}

}  // namespace
