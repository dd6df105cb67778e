#include "process.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string ReadAll(FILE* stream) {
  std::string text;
  char chunk[256];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, stream)) > 0) text.append(chunk, n);
  return text;
}

// Runs `script` through /bin/sh with its standard output piped back;
// returns what it printed and leaves the exit code in *code.
std::string SpawnShell(const std::string& script, int* code) {
  FILE* out = nullptr;
  const char* args[] = {"-c", script.c_str(), nullptr};
  int64_t pid = ZpSpawnProcess(nullptr, &out, nullptr, false, "/bin/sh", args);
  EXPECT_GT(pid, 0);
  if (pid <= 0) return "";
  std::string text = ReadAll(out);
  fclose(out);
  *code = ZpWaitProcess(int(pid));
  return text;
}

std::string WriteScript(const ZpTestDir& dir, const std::string& name, const std::string& body) {
  std::string path = dir.WriteFile(name, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
  return path;
}

// The descriptors open in this process.
std::set<int> OpenDescriptors() {
  std::set<int> open;
  DIR* dir = opendir("/proc/self/fd");
  EXPECT_NE(dir, nullptr);
  if (!dir) return open;
  int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.' && atoi(entry->d_name) != own) open.insert(atoi(entry->d_name));
  }
  closedir(dir);
  return open;
}

// The descriptor limit under which exactly `free` more descriptors can open.
rlim_t LimitLeaving(int free) {
  std::set<int> open = OpenDescriptors();
  int limit = 0;
  for (int left = free; left > 0 || open.count(limit); ++limit) {
    if (!open.count(limit)) --left;
  }
  return rlim_t(limit);
}

}  // namespace

TEST(SpawnProcessTest, PipesToAndFromTheChild) {
  FILE* in = nullptr;
  FILE* out = nullptr;
  const char* none[] = {nullptr};
  int64_t pid = ZpSpawnProcess(&in, &out, nullptr, false, "cat", none);
  ASSERT_GT(pid, 0);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  fputs("through the pipe\n", in);
  fclose(in);
  EXPECT_EQ(ReadAll(out), "through the pipe\n");
  fclose(out);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 0);
}

TEST(SpawnProcessTest, SharedAndSeparateStandardError) {
  const char* args[] = {"-c", "echo out; echo err >&2; exit 3", nullptr};

  FILE* both = nullptr;
  int64_t pid = ZpSpawnProcess(nullptr, &both, &both, false, "/bin/sh", args);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ReadAll(both), "out\nerr\n");
  fclose(both);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 3);

  FILE* out = nullptr;
  FILE* err = nullptr;
  pid = ZpSpawnProcess(nullptr, &out, &err, false, "/bin/sh", args);
  ASSERT_GT(pid, 0);
  ASSERT_NE(out, err);
  EXPECT_EQ(ReadAll(out), "out\n");
  EXPECT_EQ(ReadAll(err), "err\n");
  fclose(out);
  fclose(err);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 3);
}

TEST(SpawnProcessTest, ArgumentVectorStartsWithTheProgram) {
  ZpTestDir dir;
  std::string script = WriteScript(dir, "show", "echo \"$0|$#|$1|$2\"\n");
  FILE* out = nullptr;
  const char* args[] = {"one two", "", nullptr};
  int64_t pid = ZpSpawnProcess(nullptr, &out, nullptr, false, script.c_str(), args);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ReadAll(out), script + "|2|one two|\n");
  fclose(out);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 0);
}

TEST(SpawnProcessTest, OnlyNamesWithoutSlashAreSearchedAlongPath) {
  ZpTestDir dir;
  WriteScript(dir, "zp-found-on-path", "echo found\n");
  ZpScopedEnv path("PATH", (dir.Path() + ":/usr/bin:/bin").c_str());
  const char* none[] = {nullptr};

  FILE* out = nullptr;
  int64_t pid = ZpSpawnProcess(nullptr, &out, nullptr, false, "zp-found-on-path", none);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ReadAll(out), "found\n");
  fclose(out);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 0);

  // An absolute path is taken as it stands, even when PATH holds the name.
  pid = ZpSpawnProcess(nullptr, nullptr, nullptr, false, "/zp-found-on-path", none);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 255);

  pid = ZpSpawnProcess(nullptr, nullptr, nullptr, false, "zp-no-such-program", none);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 255);
}

TEST(SpawnProcessTest, ChildGetsNoInheritedDescriptorsAboveTwo) {
  ZpTestDir dir;
  int fd = open(dir.WriteFile("held", "x").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int high = dup2(fd, 200);
  ASSERT_EQ(high, 200);
  int code = -1;
  std::string listing = SpawnShell(
      "for fd in 3 " + std::to_string(fd) + " 200; do [ -e /proc/$$/fd/$fd ] && echo $fd; done; :",
      &code);
  close(fd);
  close(high);
  EXPECT_EQ(listing, "");
  EXPECT_EQ(code, 0);
}

TEST(SpawnProcessTest, NewProcessGroupIsLedByTheChild) {
  const char* args[] = {"5", nullptr};
  int64_t pid = ZpSpawnProcess(nullptr, nullptr, nullptr, true, "sleep", args);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(getpgid(pid_t(pid)), pid_t(pid));
  EXPECT_TRUE(ZpTerminateProcess(int(pid)));
  EXPECT_EQ(ZpWaitProcess(int(pid)), 1000 + SIGTERM);
}

TEST(SpawnProcessTest, TooManyArgumentsAreRefusedWithoutPipes) {
  std::vector<const char*> args(kZpMaxSpawnArguments + 1, "x");
  args.push_back(nullptr);
  FILE* out = reinterpret_cast<FILE*>(&args);
  EXPECT_EQ(ZpSpawnProcess(nullptr, &out, nullptr, false, "true", args.data()), 0);
  EXPECT_EQ(out, nullptr);

  args[kZpMaxSpawnArguments] = nullptr;
  int64_t pid = ZpSpawnProcess(nullptr, nullptr, nullptr, false, "true", args.data());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 0);
}

// With room for no pipe, one or two of the three asked for, nothing starts
// and the pipes that were made are closed again.
TEST(SpawnProcessTest, PipesThatCannotAllBeMadeAreClosedAgain) {
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  std::set<int> before = OpenDescriptors();
  for (int free : {1, 3, 5}) {
    rlimit lowered = saved;
    lowered.rlim_cur = LimitLeaving(free);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    FILE *in = stdin, *out = stdout, *err = stderr;
    const char* args[] = {"-c", "exit 0", nullptr};
    int64_t pid = ZpSpawnProcess(&in, &out, &err, false, "/bin/sh", args);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(pid, 0) << free << " descriptors free";
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(OpenDescriptors(), before) << free << " descriptors free";
  }
}

TEST(WaitProcessTest, StatusCodes) {
  EXPECT_EQ(ZpWaitProcess(0), 2000);
  EXPECT_EQ(ZpWaitProcess(-5), 2000);
  EXPECT_EQ(ZpWaitProcess(getpid()), 2001);  // not our child

  const char* args[] = {"30", nullptr};
  int64_t pid = ZpSpawnProcess(nullptr, nullptr, nullptr, false, "sleep", args);
  ASSERT_GT(pid, 0);
  kill(pid_t(pid), SIGKILL);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 1009);
}

namespace {
void IgnoreHangup(int) {}
}  // namespace

// A handled signal that interrupts the wait (such as the crash handler's
// SIGHUP report, installed without SA_RESTART) does not fail it.
TEST(WaitProcessTest, InterruptedWaitGoesOn) {
  pid_t tester = fork();
  if (tester == 0) {
    struct sigaction action {};
    action.sa_handler = IgnoreHangup;
    sigaction(SIGHUP, &action, nullptr);
    const char* args[] = {"-c", "sleep 0.2; kill -HUP $PPID; sleep 0.2; exit 4", nullptr};
    int64_t pid = ZpSpawnProcess(nullptr, nullptr, nullptr, false, "/bin/sh", args);
    _exit(pid > 0 ? ZpWaitProcess(int(pid)) : 99);
  }
  int status = 0;
  ASSERT_EQ(waitpid(tester, &status, 0), tester);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 4);
}

TEST(TerminateProcessTest, RefusesPidsThatNameProcessGroups) {
  EXPECT_FALSE(ZpTerminateProcess(0));
  EXPECT_FALSE(ZpTerminateProcess(-1));
}

TEST(RunCommandTest, EveryArgumentArrivesAsOneWordAndNothingRuns) {
  ZpTestDir dir;
  std::string show = WriteScript(dir, "show", "for a; do printf '[%s]\\n' \"$a\"; done > \"$ZP_OUT\"\n");
  std::string out = dir / "out";
  ZpScopedEnv outEnv("ZP_OUT", out.c_str());
  std::string trap = dir / "ran";
  std::vector<std::string> words = {
      "two words",      "it's",           "say \"hi\"",   "$(touch " + trap + ")",
      "`touch " + trap + "`", "back\\slash", "$HOME",        "'",
      "",               "line\nbreak",    "; touch " + trap, "*",
  };
  std::vector<const char*> args;
  std::string expected;
  for (const std::string& word : words) {
    args.push_back(word.c_str());
    expected += "[" + word + "]\n";
  }
  args.push_back(nullptr);

  int status = ZpRunCommandArgv(show.c_str(), args.data());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ZpReadWholeFile(out), expected);
  EXPECT_NE(access(trap.c_str(), F_OK), 0) << "an argument ran as shell code";

  status = ZpRunCommand(show.c_str(), words[3].c_str(), words[1].c_str(), nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ZpReadWholeFile(out), "[" + words[3] + "]\n[it's]\n");
  EXPECT_NE(access(trap.c_str(), F_OK), 0);
}

TEST(RunCommandTest, ReturnsTheShellStatus) {
  int status = ZpRunCommand("exit", "7", nullptr);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(ShellQuoteTest, SingleQuotesWithEscapedQuotes) {
  EXPECT_EQ(ZpShellQuote(""), "''");
  EXPECT_EQ(ZpShellQuote("a b"), "'a b'");
  EXPECT_EQ(ZpShellQuote("it's"), "'it'\\''s'");
}

TEST(OpenPipeTest, UsesOnlyTheFirstCharacterOfTheMode) {
  ZpTestDir dir;
  std::string target = dir / "written";
  FILE* pipe = ZpOpenPipe(("cat > " + ZpShellQuote(target.c_str())).c_str(), "wb");
  ASSERT_NE(pipe, nullptr);
  fputs("via the shell", pipe);
  EXPECT_EQ(ZpClosePipe(pipe), 0);
  EXPECT_EQ(ZpReadWholeFile(target), "via the shell");

  pipe = ZpOpenPipe("echo back; exit 4", "rb");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(ReadAll(pipe), "back\n");
  int status = ZpClosePipe(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4);
}
