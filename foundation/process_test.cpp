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

// A child's standard error kept in a file of its own: the piped output
// stays apart, an output that is not piped joins the errors, and nothing
// reaches the caller's standard error.
TEST(SpawnProcessTest, StandardErrorIntoACapturedFile) {
  const char* args[] = {"-c", "echo out; printf 'err\\0and on\\n' >&2; exit 3", nullptr};
  testing::internal::CaptureStderr();
  ZpCapturedOutput spawned;
  ASSERT_GE(spawned.fd(), 0);
  FILE* out = nullptr;
  int64_t pid = ZpSpawnProcess(nullptr, &out, nullptr, false, "/bin/sh", args, spawned.fd());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ReadAll(out), "out\n");
  fclose(out);
  EXPECT_EQ(ZpWaitProcess(int(pid)), 3);
  EXPECT_EQ(spawned.Text(), std::string("err\0and on\n", 11));

  ZpCapturedOutput piped;
  FILE* pipe = ZpOpenPipe("cat; echo said >&2", "w", piped.fd());
  ASSERT_NE(pipe, nullptr);
  fputs("to the output\n", pipe);
  EXPECT_EQ(ZpClosePipe(pipe), 0);
  EXPECT_EQ(piped.Text(), "to the output\nsaid\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  ZpCapturedOutput unwanted(false);
  EXPECT_EQ(unwanted.fd(), -1);
  EXPECT_EQ(unwanted.Text(), "");
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
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer turns vfork into fork: the parent may look first";
#endif
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

TEST(RunCommandTest, OnlyPlainWordsSkipTheShell) {
  struct Case {
    const char* command;
    std::vector<std::string> words;  // empty: through the shell
  } cases[] = {
      {"texmeld", {"texmeld"}},
      {"  texmeld\t-nomipmap  ", {"texmeld", "-nomipmap"}},
      {"/opt/tools/tex-meld_2.1", {"/opt/tools/tex-meld_2.1"}},
      {"./bin/tool a=b x,y:z@w%v+u", {"./bin/tool", "a=b", "x,y:z@w%v+u"}},
      {"", {}},
      {"   ", {}},
      {"A=1 texmeld", {}},
      {"exit", {}},
      {"echo hi", {}},
      {"test -f x", {}},
      {"if", {}},
      {"texmeld 'a b'", {}},
      {"texmeld \"a\"", {}},
      {"texmeld $HOME", {}},
      {"texmeld `x`", {}},
      {"texmeld a\\ b", {}},
      {"texmeld a;b", {}},
      {"texmeld a&", {}},
      {"texmeld a|b", {}},
      {"texmeld <a", {}},
      {"texmeld >a", {}},
      {"texmeld (a)", {}},
      {"texmeld *.tif", {}},
      {"texmeld a?", {}},
      {"texmeld [ab]", {}},
      {"texmeld ~/x", {}},
      {"texmeld {a,b}", {}},
      {"texmeld a\nb", {}},
      {"texmeld #comment", {}},
      {"texmeld !", {}},
      {"texmeld a^b", {}},
      {"texm\xc3\xa9ld", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words{"left over"};
    EXPECT_EQ(ZpSplitPlainCommand(c.command, &words), !c.words.empty()) << c.command;
    EXPECT_EQ(words, c.words) << c.command;
  }
  std::vector<std::string> words;
  ZpScopedEnv noPath("PATH", nullptr);
  EXPECT_FALSE(ZpSplitPlainCommand("texmeld", &words));
}

namespace {

// Runs `run` with this process's standard error written to a file; returns
// what arrived there.
template <typename Run>
std::string StandardErrorOf(const ZpTestDir& dir, Run run) {
  std::string path = dir / "stderr";
  fflush(stderr);
  int saved = dup(2);
  int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(file, 2);
  close(file);
  run();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return ZpReadWholeFile(path);
}

}  // namespace

// The same program, once by plain words and once quoted (so through the
// shell), ends with the same status and the same messages.
TEST(RunCommandTest, DirectRunsEndAsShellRuns) {
  ZpTestDir dir;
  std::string parentFile = dir / "ppid";
  ZpScopedEnv parentEnv("ZP_PARENT", parentFile.c_str());
  std::string parent = WriteScript(dir, "parent", "echo $PPID > \"$ZP_PARENT\"\nexit \"$1\"\n");
  std::string killed = WriteScript(dir, "killed", "kill -KILL $$\n");
  std::string locked = dir.WriteFile("locked", "#!/bin/sh\n");
  chmod(locked.c_str(), 0644);
  struct Case {
    std::string program;
    std::vector<const char*> args;
  } cases[] = {
      {parent, {"0", nullptr}},
      {parent, {"3", nullptr}},
      {killed, {nullptr}},
      {locked, {nullptr}},
      {"zp-no-such-program", {"a", nullptr}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words;
    ASSERT_TRUE(ZpSplitPlainCommand(c.program.c_str(), &words)) << c.program;
    int direct = 0, shell = 0;
    std::string directErr =
        StandardErrorOf(dir, [&] { direct = ZpRunCommandArgv(c.program.c_str(), c.args.data()); });
    std::string quoted = ZpShellQuote(c.program.c_str());
    std::string shellErr =
        StandardErrorOf(dir, [&] { shell = ZpRunCommandArgv(quoted.c_str(), c.args.data()); });
    EXPECT_EQ(direct, shell) << c.program;
    EXPECT_EQ(directErr, shellErr) << c.program;
  }
  // The plain words started the program itself, without a shell between.
  unlink(parentFile.c_str());
  EXPECT_EQ(ZpRunCommand(parent.c_str(), "0", nullptr), 0);
  EXPECT_EQ(ZpReadWholeFile(parentFile), std::to_string(getpid()) + "\n");

  int status = ZpRunCommand("zp-no-such-program", nullptr);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 127) << status;
  status = ZpRunCommand(killed.c_str(), nullptr);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL) << status;
}

// A direct run leads a process group of its own, as the shell did.
TEST(RunCommandTest, DirectRunLeadsItsOwnProcessGroup) {
  ZpTestDir dir;
  std::string out = dir / "group";
  ZpScopedEnv outEnv("ZP_OUT", out.c_str());
  std::string show = WriteScript(dir, "show", "ps -o pid=,pgid= -p $$ > \"$ZP_OUT\"\n");
  ASSERT_EQ(ZpRunCommand(show.c_str(), nullptr), 0);
  int pid = 0, group = 0;
  ASSERT_EQ(sscanf(ZpReadWholeFile(out).c_str(), "%d %d", &pid, &group), 2);
  EXPECT_EQ(pid, group);
  EXPECT_NE(group, getpgrp());
}

// What a command says comes back in order, its outputs and the shell's own
// messages alike, and none of it reaches the caller's standard error.
TEST(RunCommandTest, CapturedOutputKeepsItsOrder) {
  ZpTestDir dir;
  std::string talk = WriteScript(dir, "talk", "echo out1; echo err1 >&2; echo out2; exit 5\n");
  std::string killed = WriteScript(dir, "killed", "echo last words; kill -TERM $$\n");
  struct Case {
    std::string command;
    int exitStatus;
    std::string output;
  } cases[] = {
      {talk, 5, "out1\nerr1\nout2\n"},
      {ZpShellQuote(talk.c_str()), 5, "out1\nerr1\nout2\n"},
      {killed, 128 + SIGTERM, "last words\nTerminated\n"},
      {ZpShellQuote(killed.c_str()), 128 + SIGTERM, "last words\nTerminated\n"},
      {"zp-no-such-program", 127, "/bin/sh: 1: zp-no-such-program: not found\n"},
      {"'zp-no-such-program'", 127, "/bin/sh: 1: zp-no-such-program: not found\n"},
  };
  for (const Case& c : cases) {
    std::string output = "left over";
    int status = 0;
    const char* none[] = {nullptr};
    std::string seen = StandardErrorOf(
        dir, [&] { status = ZpRunCommandCapturing(c.command.c_str(), none, &output); });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.exitStatus) << c.command << status;
    EXPECT_EQ(output, c.output) << c.command;
    EXPECT_EQ(seen, "") << c.command;
  }
}

// The shell passes PWD on as the name of the working directory; so does a
// direct run, whatever PWD the caller had.
TEST(RunCommandTest, DirectRunsSeeThePwdTheShellGives) {
  ZpTestDir dir;
  std::string show = WriteScript(dir, "show", "echo \"$PWD\"\n");
  std::string quoted = ZpShellQuote(show.c_str());
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const char* none[] = {nullptr};
  const char* pwds[] = {nullptr, "/nonexistent", "relative", cwd};
  for (const char* pwd : pwds) {
    ZpScopedEnv env("PWD", pwd);
    std::string direct, shell;
    ZpRunCommandCapturing(show.c_str(), none, &direct);
    ZpRunCommandCapturing(quoted.c_str(), none, &shell);
    EXPECT_EQ(direct, shell) << (pwd ? pwd : "(unset)");
    EXPECT_EQ(direct, std::string(cwd) + "\n") << (pwd ? pwd : "(unset)");
  }
}
