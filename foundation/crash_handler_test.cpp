#include "crash_handler.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <ucontext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using ChildResult = ZpChildResult;

ChildResult RunInChild(const std::function<void()>& body) { return ZpRunInChild(body); }

bool ExitedWith(int status, int code) { return ZpExitedWith(status, code); }

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

void Say(const char* text) {
  ssize_t ignored = write(2, text, strlen(text));
  (void)ignored;
}

const std::regex kMemoryLine("Process is using [0-9]+ of [0-9]+ MB\\. System memory load is "
                             "[0-9]+%\\.\n");
const char kBanner[] =
    "\n * Please report this crash to bug@tracwell.invalid. *\n"
    " * Along with your VRX+OSL files. Thank you.         *\n";

bool SystemLogReachable() {
  int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, "/dev/log");
  bool reachable = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(sock);
  return reachable;
}

}  // namespace

TEST(CrashHandlerTest, DumpCoreSetToEmptyInstallsNothing) {
  ChildResult child = RunInChild([] {
    setenv("ZP_DUMP_CORE", "", 1);
    bool installed = ZpInstallCrashHandler();
    struct sigaction segv, usr1;
    sigaction(SIGSEGV, nullptr, &segv);
    sigaction(SIGUSR1, nullptr, &usr1);
    bool untouched = segv.sa_sigaction != ZpCrashSignalHandler && usr1.sa_handler != ZpDumpAllThreads;
    _exit(!installed && untouched ? 0 : 3);
  });
  EXPECT_TRUE(ExitedWith(child.status, 0)) << child.err;
}

TEST(CrashHandlerTest, SegmentationFaultGivesTheWholeReportAndStatusOne) {
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    ZpInstallCrashHandler();
    volatile uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
  });
  EXPECT_TRUE(ExitedWith(child.status, 1)) << child.status;
  const std::string& err = child.err;
  const std::string header =
      "Received signal 11 (Segmentation violation). 2.5.20 Jul 10 2021, tw-oss\n"
      "Trying to access address 0x10\n"
      "StackTrace() at 0x";
  ASSERT_EQ(err.rfind(header, 0), 0u) << err;
  EXPECT_TRUE(std::regex_search(err, std::regex("StackTrace\\(\\) at 0x[0-9a-f]{16}\n\n")));
  size_t registers = err.find("\nRegisters dump:\n");
  ASSERT_NE(registers, std::string::npos) << err;
  const std::string dump = err.substr(registers);
  EXPECT_TRUE(std::regex_search(
      dump, std::regex("\nrax: 0x[0-9a-f]{16}  rbx: 0x[0-9a-f]{16}\n"
                       "rcx: 0x[0-9a-f]{16}  rdx: 0x[0-9a-f]{16}\n"
                       "rsp: 0x[0-9a-f]{16}  rbp: 0x[0-9a-f]{16}\n"
                       "rsi: 0x[0-9a-f]{16}  rdi: 0x[0-9a-f]{16}\n"
                       "r8 : 0x[0-9a-f]{16}  r9 : 0x[0-9a-f]{16}\n"
                       "r10: 0x[0-9a-f]{16}  r11: 0x[0-9a-f]{16}\n"
                       "r12: 0x[0-9a-f]{16}  r13: 0x[0-9a-f]{16}\n"
                       "r14: 0x[0-9a-f]{16}  r15: 0x[0-9a-f]{16}\n"
                       "xmm0 : 0x[0-9a-f]{8} 0x[0-9a-f]{8} 0x[0-9a-f]{8} 0x[0-9a-f]{8} \\(")))
      << dump;
  EXPECT_NE(dump.find("\nxmm15: 0x"), std::string::npos);
  std::smatch memory;
  ASSERT_TRUE(std::regex_search(dump, memory, kMemoryLine)) << dump;
  // The memory line, then the banner, end the report.
  EXPECT_EQ(dump.substr(size_t(memory.position(0))), memory.str(0) + kBanner);
}

TEST(CrashHandlerTest, EachFatalSignalReportsAndExitsWithOne) {
  struct Case {
    int signal;
    const char* name;
    bool banner;
  } cases[] = {
      {SIGABRT, "Abort", false},
      {SIGTRAP, "Trace trap", false},
      {SIGSYS, "Bad argument to system call", false},
      {SIGILL, "Illegal instruction", true},
      {SIGBUS, "Bus error", true},
      {SIGFPE, "Floating point exception", true},
  };
  for (const Case& c : cases) {
    ChildResult child = RunInChild([&c] {
      unsetenv("ZP_DUMP_CORE");
      ZpInstallCrashHandler();
      raise(c.signal);
      Say("went on\n");
    });
    std::string header = "Received signal " + std::to_string(c.signal) + " (" + c.name +
                         "). 2.5.20 Jul 10 2021, tw-oss\nStackTrace() at 0x";
    EXPECT_EQ(child.err.rfind(header, 0), 0u) << child.err;
    EXPECT_TRUE(ExitedWith(child.status, 1)) << c.name;
    EXPECT_EQ(child.err.find("went on"), std::string::npos) << c.name;
    EXPECT_TRUE(std::regex_search(child.err, kMemoryLine)) << c.name;
    bool endsWithBanner = child.err.size() > strlen(kBanner) &&
                          child.err.compare(child.err.size() - strlen(kBanner), std::string::npos,
                                            kBanner) == 0;
    EXPECT_EQ(endsWithBanner, c.banner) << c.name;
    EXPECT_EQ(Count(child.err, "Please report"), c.banner ? 1u : 0u) << c.name;
  }
}

TEST(CrashHandlerTest, HangupReportsAndTheProgramGoesOn) {
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    ZpInstallCrashHandler();
    raise(SIGHUP);
    Say("after the first\n");
    raise(SIGHUP);
    Say("after the second\n");
  });
  EXPECT_TRUE(ExitedWith(child.status, 0)) << child.err;
  EXPECT_EQ(Count(child.err, "Received signal 1 (Hangup). 2.5.20 Jul 10 2021, tw-oss\n"), 2u);
  EXPECT_EQ(Count(child.err, "\nRegisters dump:\n"), 2u);
  EXPECT_EQ(child.err.find("Please report"), std::string::npos);
  size_t first = child.err.find("after the first\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(child.err.find("Received signal 1", first), std::string::npos);
  EXPECT_NE(child.err.find("after the second\n", first), std::string::npos);
}

TEST(CrashHandlerTest, HangupDoesNotInterruptABlockingRead) {
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    ZpInstallCrashHandler();
    int fds[2];
    if (pipe(fds) != 0) _exit(3);
    pthread_t reader = pthread_self();
    std::thread writer([&] {
      usleep(200 * 1000);  // let the read block first
      pthread_kill(reader, SIGHUP);
      usleep(100 * 1000);
      ssize_t ignored = write(fds[1], "x", 1);
      (void)ignored;
    });
    char byte = 0;
    ssize_t n = read(fds[0], &byte, 1);
    writer.join();
    Say(n == 1 && byte == 'x' ? "read the byte\n" : "read failed\n");
  });
  EXPECT_TRUE(ExitedWith(child.status, 0)) << child.err;
  EXPECT_NE(child.err.find("Received signal 1 (Hangup)"), std::string::npos) << child.err;
  EXPECT_NE(child.err.find("read the byte\n"), std::string::npos) << child.err;
}

namespace {

// Started with SIGHUP blocked; returns once a SIGHUP report has run on this
// thread, whether the signal came before or during the wait.
void WaitForHangup() {
  sigset_t none;
  sigemptyset(&none);
  sigsuspend(&none);
}

}  // namespace

TEST(CrashHandlerTest, UserSignalMakesEveryThreadReportInTurn) {
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    ZpInstallCrashHandler();
    sigset_t hangup;
    sigemptyset(&hangup);
    sigaddset(&hangup, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &hangup, nullptr);  // inherited by the threads
    std::thread a(WaitForHangup), b(WaitForHangup);
    pthread_sigmask(SIG_UNBLOCK, &hangup, nullptr);
    raise(SIGUSR1);
    a.join();
    b.join();
    Say("still running\n");
  });
  EXPECT_TRUE(ExitedWith(child.status, 0)) << child.err;
  EXPECT_EQ(Count(child.err, "Received signal 1 (Hangup)"), 3u) << child.err;
  EXPECT_NE(child.err.find("still running\n"), std::string::npos);
  // Reports follow one another: each holds exactly one memory line.
  std::string err = child.err;
  size_t at = err.find("Received signal");
  while (at != std::string::npos) {
    size_t next = err.find("Received signal", at + 1);
    std::string report = err.substr(at, next == std::string::npos ? std::string::npos : next - at);
    EXPECT_EQ(Count(report, "Process is using"), 1u) << report;
    EXPECT_EQ(Count(report, "StackTrace() at"), 1u) << report;
    at = next;
  }
}

namespace {
volatile sig_atomic_t ownHandlerRan = 0;
void OwnHandler(int) { ownHandlerRan = 1; }
}  // namespace

TEST(CrashHandlerTest, AnEarlierUserSignalHandlerStaysInPlace) {
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    signal(SIGUSR1, OwnHandler);
    ZpInstallCrashHandler();
    raise(SIGUSR1);
    _exit(ownHandlerRan ? 0 : 3);
  });
  EXPECT_TRUE(ExitedWith(child.status, 0)) << child.err;
  EXPECT_EQ(child.err.find("Received signal"), std::string::npos) << child.err;
}

TEST(CrashHandlerTest, LogSwitchKeepsTraceAndRegistersOffStandardError) {
  bool logReachable = SystemLogReachable();
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    ZpInstallCrashHandler();
    if (!ZpEnableSyslogStackTrace()) _exit(3);
    raise(SIGHUP);
  });
  EXPECT_TRUE(ExitedWith(child.status, 0)) << child.err;
  EXPECT_EQ(child.err.rfind("Received signal 1 (Hangup)", 0), 0u);
  EXPECT_TRUE(std::regex_search(child.err, kMemoryLine));
  EXPECT_EQ(child.err.find("Registers dump"), std::string::npos);
  // An unreachable log sends the trace to standard error instead.
  EXPECT_EQ(child.err.find("StackTrace() at 0x") != std::string::npos, !logReachable);
}

namespace {

// Runs `body` with standard error sent into a file and returns what arrived.
std::string CaptureStderr(const std::function<void()>& body) {
  ZpTestDir dir;
  std::string path = dir / "stderr";
  int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int saved = dup(2);
  dup2(file, 2);
  close(file);
  body();
  dup2(saved, 2);
  close(saved);
  return ZpReadWholeFile(path);
}

}  // namespace

TEST(CrashHandlerTest, RegisterSectionLayout) {
  mcontext_t context{};
  _libc_fpstate fp{};
  context.fpregs = &fp;
  for (int i = 0; i < NGREG; ++i) context.gregs[i] = 0;
  context.gregs[REG_RAX] = greg_t(0x0123456789abcdefULL);
  context.gregs[REG_R8] = 0x8;
  context.gregs[REG_R15] = greg_t(0xffffffff00000001ULL);
  float onePointFive = 1.5f;
  memcpy(&fp._xmm[0].element[0], &onePointFive, 4);
  fp._xmm[0].element[1] = 0xdeadbeef;
  fp._xmm[0].element[3] = 0x1;

  std::string dump = CaptureStderr([&] { ZpDumpRegisters(&context); });
  std::string zero = "0x0000000000000000";
  std::string expected = "\nRegisters dump:\n"
                         "rax: 0x0123456789abcdef  rbx: " + zero + "\n"
                         "rcx: " + zero + "  rdx: " + zero + "\n"
                         "rsp: " + zero + "  rbp: " + zero + "\n"
                         "rsi: " + zero + "  rdi: " + zero + "\n"
                         "r8 : 0x0000000000000008  r9 : " + zero + "\n"
                         "r10: " + zero + "  r11: " + zero + "\n"
                         "r12: " + zero + "  r13: " + zero + "\n"
                         "r14: " + zero + "  r15: 0xffffffff00000001\n"
                         "xmm0 : 0x3fc00000 0xdeadbeef 0x00000000 0x00000001 (1.5)\n";
  for (int i = 1; i < 16; ++i) {
    expected += (i < 10 ? "xmm" + std::to_string(i) + " " : "xmm" + std::to_string(i)) +
                ": 0x00000000 0x00000000 0x00000000 0x00000000 (0)\n";
  }
  EXPECT_EQ(dump, expected);
}

TEST(CrashHandlerTest, StackTraceLineNamesItsOwnAddress) {
  std::string trace = CaptureStderr([] { EXPECT_TRUE(ZpPrintStackTrace()); });
  char own[40];
  snprintf(own, sizeof own, "StackTrace() at 0x%016llx\n\n",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&ZpPrintStackTrace)));
  EXPECT_EQ(trace.rfind(own, 0), 0u) << trace;
  EXPECT_EQ(trace.back(), '\n');
  EXPECT_GT(Count(trace, "\n"), 3u);
}

TEST(MemoryFiguresTest, MemoryLineInDecimalMegabytes) {
  char line[128];
  struct Case {
    uint64_t resident, physical, available;
    const char* text;
  } cases[] = {
      {2500000, 8000000000, 2000000000,
       "Process is using 2 of 8000 MB. System memory load is 75%.\n"},
      {999999, 1000000, 0, "Process is using 0 of 1 MB. System memory load is 100%.\n"},
      // No physical figure: no load to divide out.
      {5000000, 0, 0, "Process is using 5 of 0 MB. System memory load is 0%.\n"},
      {0, 1000000, 2000000, "Process is using 0 of 1 MB. System memory load is 0%.\n"},
  };
  for (const Case& c : cases) {
    int length = ZpFormatMemoryLine(line, sizeof line, c.resident, c.physical, c.available);
    EXPECT_STREQ(line, c.text);
    EXPECT_EQ(length, int(strlen(c.text)));
  }
}

TEST(MemoryFiguresTest, ReadFromTheProcFiles) {
  ZpTestDir dir;
  std::string meminfo = dir.WriteFile("meminfo",
                                      "MemTotal:       16000000 kB\n"
                                      "MemFree:         1000000 kB\n"
                                      "MemAvailable:    4000000 kB\n"
                                      "MemAvailable:    9 kB\n");
  EXPECT_EQ(ZpAvailableMemoryFrom(meminfo.c_str()), 4000000ull * 1024);
  std::string status = dir.WriteFile("status",
                                     "Name:\ttracwell\n"
                                     "VmRSS:\t    1000 kB\n"
                                     "VmRSS:\t    2048 kB\n"
                                     "Threads:\t1\n");
  EXPECT_EQ(ZpResidentMemoryFrom(status.c_str()), 2048ull * 1024);
  std::string without = dir.WriteFile("without", "MemTotal: 1 kB\n");
  EXPECT_EQ(ZpAvailableMemoryFrom(without.c_str()), 0u);
  EXPECT_EQ(ZpResidentMemoryFrom(without.c_str()), 0u);
  EXPECT_EQ(ZpAvailableMemoryFrom((dir / "none").c_str()), 0u);

  EXPECT_EQ(ZpPhysicalMemory(), uint64_t(sysconf(_SC_PAGESIZE)) * sysconf(_SC_PHYS_PAGES));
  EXPECT_GT(ZpResidentMemory(), 0u);
  EXPECT_LE(ZpAvailableMemory(), ZpPhysicalMemory());
}

TEST(MemoryFiguresTest, ReportWritesTheLineAlone) {
  int written = 0;
  std::string text = CaptureStderr([&] { written = ZpPrintMemoryReport(); });
  EXPECT_TRUE(std::regex_match(text, kMemoryLine)) << text;
  EXPECT_EQ(written, int(text.size()));
}

TEST(CrashHandlerTest, AFaultDuringAReportEndsTheProcessOnce) {
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    ZpInstallCrashHandler();
    // A hangup report over a machine context that cannot be read: the
    // register section faults in the middle of the report.
    siginfo_t info{};
    ZpCrashSignalHandler(SIGHUP, &info, reinterpret_cast<void*>(uintptr_t{0x10}));
    Say("went on\n");
  });
  EXPECT_TRUE(ExitedWith(child.status, 1)) << child.status;
  EXPECT_EQ(child.err.rfind("Received signal 1 (Hangup)", 0), 0u) << child.err;
  EXPECT_EQ(Count(child.err, "Received signal"), 2u) << child.err;
  const std::string last = "Received signal 11 (Segmentation violation) during the report.\n";
  EXPECT_TRUE(child.err.size() > last.size() &&
              child.err.compare(child.err.size() - last.size(), last.size(), last) == 0)
      << child.err;
  EXPECT_EQ(child.err.find("went on"), std::string::npos);
}

namespace {

// Goes on until the stack is used up; the array keeps each frame large and
// the addition after the call keeps the compiler from making it a loop.
volatile bool deeper = true;
int Recurse(int depth) {
  volatile char frame[1024];
  frame[0] = char(depth);
  return deeper ? Recurse(depth + 1) + frame[0] : 0;
}

}  // namespace

TEST(CrashHandlerTest, AStackOverflowIsReported) {
  ChildResult child = RunInChild([] {
    unsetenv("ZP_DUMP_CORE");
    ZpInstallCrashHandler();
    Recurse(0);
  });
  EXPECT_TRUE(ExitedWith(child.status, 1)) << child.status << child.err;
  EXPECT_EQ(child.err.rfind("Received signal 11 (Segmentation violation)", 0), 0u) << child.err;
  EXPECT_TRUE(std::regex_search(child.err, kMemoryLine)) << child.err;
  EXPECT_NE(child.err.find(kBanner), std::string::npos);
}

// A hangup may stop a thread anywhere in the unwinder while an exception
// travels up; the report's stack walk must not depend on that state.
TEST(CrashHandlerTest, HangupsWhileExceptionsUnwindAreReportedSafely) {
  const char* build = getenv("ZP_TEST_BUILD_DIR");
  std::string helper = std::string(build ? build : ".") + "/foundation/crash_storm_helper";
  ChildResult child = RunInChild([&helper] {
    unsetenv("ZP_DUMP_CORE");
    execl(helper.c_str(), helper.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  });
  EXPECT_TRUE(ExitedWith(child.status, 0)) << child.status;
  EXPECT_EQ(child.err.find("during the report"), std::string::npos);
  EXPECT_NE(child.err.find("all caught\n"), std::string::npos);
  EXPECT_GT(Count(child.err, "Received signal 1 (Hangup)"), 10u);
}

// A frame chain that leads nowhere ends the trace, not the report.
TEST(CrashHandlerTest, ABrokenFrameChainStillGivesTheWholeReport) {
  for (uintptr_t framePointer : {uintptr_t{0x10}, ~uintptr_t{0} - 15, uintptr_t{0x7}}) {
    ChildResult child = RunInChild([framePointer] {
      unsetenv("ZP_DUMP_CORE");
      ZpInstallCrashHandler();
      ucontext_t context;
      getcontext(&context);
      context.uc_mcontext.gregs[REG_RBP] = greg_t(framePointer);
      siginfo_t info{};
      ZpCrashSignalHandler(SIGHUP, &info, &context);
      Say("went on\n");
    });
    EXPECT_TRUE(ExitedWith(child.status, 0)) << child.err;
    EXPECT_NE(child.err.find("\nRegisters dump:\n"), std::string::npos) << child.err;
    EXPECT_TRUE(std::regex_search(child.err, kMemoryLine)) << child.err;
    EXPECT_NE(child.err.find("went on\n"), std::string::npos) << child.err;
  }
}
