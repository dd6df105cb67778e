#include "interruption.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "process.h"
#include "test_support.h"

namespace {

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Running, not ended (an ended process may stay a zombie here: nobody need
// reap an orphan).
bool Alive(pid_t pid) {
  std::string stat = ZpReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  size_t end = stat.rfind(')');
  return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

void Touch(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) close(fd);
}

// Reads the pid the child wrote to `path`, waiting for it a little.
pid_t PidIn(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::string text = ZpReadWholeFile(path);
    if (!text.empty() && text.back() == '\n') return pid_t(std::stol(text));
    usleep(10 * 1000);
  }
  return 0;
}

}  // namespace

// Each signal ends the run with 128 + its number: registered children are
// stopped (a whole process group where asked), registered files removed,
// everything else left as it is, and one line is written.
TEST(InterruptionTest, EachSignalStopsChildrenRemovesFilesAndExits) {
  for (int signal : {SIGINT, SIGTERM, SIGQUIT}) {
    ZpTestDir dir;
    std::string partial = dir / "partial";
    std::string kept = dir / "kept";
    std::string pids = dir / "pids";
    ZpChildResult child = ZpRunInChild([&] {
      ZpInstallInterruptHandler("tool: interrupted");
      Touch(kept);
      Touch(partial);
      ZpRegisterPartialFile(AT_FDCWD, partial.c_str());
      // A shell in a group of its own whose own child must be stopped too.
      std::string script = "sleep 30 & echo $! > '" + pids + "'; wait";
      const char* args[] = {"-c", script.c_str(), nullptr};
      ZpSpawnProcess(nullptr, nullptr, nullptr, true, "/bin/sh", args);
      PidIn(pids);
      raise(signal);
      fputs("went on\n", stderr);
    });
    EXPECT_TRUE(ZpExitedWith(child.status, 128 + signal)) << signal << ": " << child.status;
    EXPECT_EQ(child.err, "tool: interrupted\n") << signal;
    EXPECT_FALSE(Exists(partial)) << signal;
    EXPECT_TRUE(Exists(kept)) << signal;
    pid_t grandchild = PidIn(pids);
    ASSERT_GT(grandchild, 0);
    for (int i = 0; i < 100 && Alive(grandchild); ++i) usleep(10 * 1000);
    EXPECT_FALSE(Alive(grandchild)) << signal;
  }
}

// A child that another thread is starting when the interruption begins
// (registered only after the registry was taken) is stopped as well.
TEST(InterruptionTest, AChildStartedDuringTheInterruptionIsStopped) {
  ZpTestDir dir;
  std::string pids = dir / "pids";
  ZpChildResult child = ZpRunInChild([&] {
    ZpInstallInterruptHandler("interrupted");
    std::atomic<bool> starting{false};
    std::thread starter([&] {
      ZpChildStart start;
      starting = true;
      usleep(200 * 1000);  // the interruption has begun meanwhile
      // As a spawn does: the signals are held until the child has let go of
      // the handlers it inherited.
      sigset_t all, before;
      sigfillset(&all);
      pthread_sigmask(SIG_BLOCK, &all, &before);
      pid_t pid = fork();
      if (pid == 0) {
        signal(SIGTERM, SIG_DFL);
        sigprocmask(SIG_SETMASK, &before, nullptr);
        execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        _exit(127);
      }
      FILE* out = fopen(pids.c_str(), "w");
      if (out) fprintf(out, "%d\n", int(pid)), fclose(out);
      ZpRegisterChild(pid, false);
      pthread_sigmask(SIG_SETMASK, &before, nullptr);
      fputs("registered\n", stderr);
    });
    while (!starting) usleep(1000);
    raise(SIGTERM);
    starter.join();
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 128 + SIGTERM)) << child.status << child.err;
  EXPECT_EQ(child.err, "interrupted\n");
  pid_t started = PidIn(pids);
  ASSERT_GT(started, 0);
  for (int i = 0; i < 100 && Alive(started); ++i) usleep(10 * 1000);
  EXPECT_FALSE(Alive(started));
  if (Alive(started)) kill(started, SIGKILL);
}

// A child that ignores SIGTERM is killed after a while; the run still ends.
TEST(InterruptionTest, AChildThatIgnoresTerminationIsKilled) {
  ZpChildResult child = ZpRunInChild([] {
    ZpInstallInterruptHandler("interrupted");
    const char* args[] = {"-c", "trap '' TERM; echo ready; exec sleep 30", nullptr};
    FILE* out = nullptr;
    ZpSpawnProcess(nullptr, &out, nullptr, false, "/bin/sh", args);
    char line[16];
    if (out == nullptr || fgets(line, sizeof line, out) == nullptr) _exit(3);
    raise(SIGTERM);
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 128 + SIGTERM)) << child.status << child.err;
  EXPECT_EQ(child.err, "interrupted\n");
}

// An unregistered file stays; a file registered while the run is being
// interrupted is the creator's to remove, which ZpStillRegistered tells it.
TEST(InterruptionTest, OnlyRegisteredFilesAreRemoved) {
  ZpTestDir dir;
  std::string done = dir / "done";
  std::string partial = dir / "partial";
  ZpChildResult child = ZpRunInChild([&] {
    ZpInstallInterruptHandler("interrupted");
    int folder = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    Touch(done);
    int ticket = ZpRegisterPartialFile(folder, "done");
    ZpUnregister(ticket);
    ZpRegisterPartialFile(folder, "partial");
    Touch(partial);
    EXPECT_TRUE(ZpStillRegistered(ticket));
    kill(getpid(), SIGINT);
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 130)) << child.status;
  EXPECT_TRUE(Exists(done));
  EXPECT_FALSE(Exists(partial));
}

// A second thread that goes on registering and unregistering while the run
// is interrupted waits for the exit instead of racing it.
TEST(InterruptionTest, OtherThreadsWaitForTheExit) {
  ZpTestDir dir;
  ZpChildResult child = ZpRunInChild([&] {
    ZpInstallInterruptHandler("interrupted");
    int folder = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    std::thread busy([folder] {
      for (int i = 0;; ++i) {
        std::string name = "f" + std::to_string(i % 64);
        int ticket = ZpRegisterPartialFile(folder, name.c_str());
        int fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd >= 0) close(fd);
        if (!ZpStillRegistered(ticket)) unlinkat(folder, name.c_str(), 0);
        unlinkat(folder, name.c_str(), 0);
        ZpUnregister(ticket);
      }
    });
    usleep(50 * 1000);
    kill(getpid(), SIGTERM);
    busy.join();
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 128 + SIGTERM)) << child.status;
  EXPECT_EQ(child.err, "interrupted\n");
  for (int i = 0; i < 64; ++i) EXPECT_FALSE(Exists(dir / ("f" + std::to_string(i)))) << i;
}

// A child that SIGINT or SIGQUIT ended was interrupted from the terminal:
// so is the run, once the handler is installed. Other signals are the
// child's own failure, reported as before.
TEST(InterruptionTest, AChildEndedByAnInterruptionEndsTheRun) {
  struct Case {
    int signal;
    bool installed;
    int exitCode;
  } cases[] = {{SIGINT, true, 130}, {SIGQUIT, true, 131}, {SIGKILL, true, 9},
               {SIGINT, false, 2}};
  for (const Case& c : cases) {
    ZpChildResult child = ZpRunInChild([&c] {
      if (c.installed) ZpInstallInterruptHandler("interrupted");
      std::string script = "kill -" + std::to_string(c.signal) + " $$";
      const char* args[] = {"-c", script.c_str(), nullptr};
      int64_t pid = ZpSpawnProcess(nullptr, nullptr, nullptr, false, "/bin/sh", args);
      _exit(ZpWaitProcess(int(pid)) - 1000);
    });
    EXPECT_TRUE(ZpExitedWith(child.status, c.exitCode)) << c.signal << ": " << child.status;
  }
}

// The shell of ZpRunCommand no longer makes the caller ignore SIGINT and
// SIGQUIT (system() did), and a command line that an interruption ended
// (the shell then exits with 128 + its number) ends the run.
TEST(InterruptionTest, ShellCommandsCanBeInterrupted) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer reports the thread the interruption leaves unjoined";
#endif
  ZpTestDir dir;
  std::string pids = dir / "pids";
  ZpChildResult child = ZpRunInChild([&] {
    ZpInstallInterruptHandler("interrupted");
    std::string writer = "echo $$ > '" + pids + "'; sleep 30";
    std::thread interrupt([&] {
      PidIn(pids);
      kill(getpid(), SIGINT);
    });
    ZpRunCommand(writer.c_str(), nullptr);
    interrupt.join();
    fputs("went on\n", stderr);
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 130)) << child.status << child.err;
  EXPECT_EQ(child.err, "interrupted\n");
  pid_t shell = PidIn(pids);
  for (int i = 0; i < 100 && Alive(shell); ++i) usleep(10 * 1000);
  EXPECT_FALSE(Alive(shell));

  child = ZpRunInChild([] {
    ZpInstallInterruptHandler("interrupted");
    ZpRunCommand("exit 130", nullptr);
    fputs("went on\n", stderr);
  });
  EXPECT_TRUE(ZpExitedWith(child.status, 130)) << child.status << child.err;
}

// Threads that start and wait for children at once: each finds its own
// child's slot, and every slot is free again afterwards. (The pids are made
// up: nothing is signalled without an interruption.)
// The entries the registry has room for now.
static size_t FreeSlots() {
  std::vector<int> tickets;
  for (int ticket; (ticket = ZpRegisterPartialFile(AT_FDCWD, "x")) >= 0;) tickets.push_back(ticket);
  for (int ticket : tickets) ZpUnregister(ticket);
  return tickets.size();
}

TEST(InterruptionTest, ChildrenOfManyThreadsAreRegisteredApart) {
  size_t room = FreeSlots();
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < kRounds; ++round) {
        pid_t pid = 4000000 + t * 16 + round % 16;
        ASSERT_GE(ZpRegisterChild(pid, false), 0);
        ZpUnregisterChild(pid);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(FreeSlots(), room);
}
