#include "crash_handler.h"

#include <errno.h>
#include <execinfo.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "directories.h"
#include "line_reader.h"
#include "mutex.h"
#include "version.h"

namespace {

// Every report runs under this lock; recursive so that a fault during a
// report on the same thread re-enters instead of blocking.
ZpMutex crashLock;
bool logSwitch = false;
char headerBuffer[128];

constexpr int kMaxFrames = 64;
constexpr char kContact[] = "bug@tracwell.invalid";

const char* SignalName(int signal) {
  switch (signal) {
    case SIGHUP: return "Hangup";
    case SIGILL: return "Illegal instruction";
    case SIGTRAP: return "Trace trap";
    case SIGABRT: return "Abort";
    case SIGBUS: return "Bus error";
    case SIGFPE: return "Floating point exception";
    case SIGSEGV: return "Segmentation violation";
    case SIGSYS: return "Bad argument to system call";
    default: return "Unexpected!";
  }
}

void WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    length -= size_t(written);
  }
}

void WriteText(int fd, const char* text) {
  WriteAll(fd, text, strlen(text));
}

// Formats into a stack buffer and writes it: no stdio stream, whose lock the
// interrupted code may hold.
__attribute__((format(printf, 1, 2))) void WriteError(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length > 0) WriteAll(2, line, std::min(size_t(length), sizeof line - 1));
}

struct sigaction CrashAction() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = ZpCrashSignalHandler;
  // SA_RESTART: a hangup is reported and the program goes on, so a read or
  // write it interrupts must go on too instead of failing with EINTR and
  // losing input or output.
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  return action;
}

// A local datagram socket connected to the system log, or -1.
int OpenLogSocket() {
  int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return -1;
  sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, "/dev/log");
  if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(sock);
    return -1;
  }
  return sock;
}

// "StackTrace() at 0x" and 16 hexadecimal digits, built by hand.
void WriteTraceLine(int fd) {
  static const char kDigits[] = "0123456789abcdef";
  char line[64] = "StackTrace() at 0x";
  size_t at = strlen(line);
  uint64_t address = reinterpret_cast<uint64_t>(&ZpPrintStackTrace);
  for (int shift = 60; shift >= 0; shift -= 4) line[at++] = kDigits[(address >> shift) & 0xf];
  line[at++] = '\n';
  WriteAll(fd, line, at);
}

uint64_t FirstOrLastMatch(const char* path, const char* format, bool last) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) return 0;
  uint64_t result = 0;
  char line[200];
  while (ZpReadLine(file, line, sizeof line)) {
    unsigned long long kilobytes;
    if (sscanf(line, format, &kilobytes) == 1) {
      result = uint64_t(kilobytes) * 1024;
      if (!last) break;
    }
  }
  fclose(file);
  return result;
}

void WriteMemoryLine() {
  char line[128];
  int length = ZpFormatMemoryLine(line, sizeof line, ZpResidentMemory(), ZpPhysicalMemory(),
                                  ZpAvailableMemory());
  if (length > 0) WriteAll(2, line, std::min(size_t(length), sizeof line - 1));
}

bool AsksForTheBanner(int signal) {
  return signal == SIGILL || signal == SIGBUS || signal == SIGFPE || signal == SIGSEGV;
}

}  // namespace

bool ZpInstallCrashHandler() {
  if (getenv("ZP_DUMP_CORE") != nullptr) return false;
  // The first backtrace() loads the unwinder; do it now rather than inside
  // a signal handler.
  void* frame;
  backtrace(&frame, 1);

  struct sigaction action = CrashAction();
  for (int signal : {SIGILL, SIGTRAP, SIGABRT, SIGFPE, SIGBUS, SIGSEGV, SIGSYS, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
  // The all-thread dump only takes SIGUSR1 when nobody else has it.
  struct sigaction previous;
  bool taken = sigaction(SIGUSR1, nullptr, &previous) == 0 &&
               ((previous.sa_flags & SA_SIGINFO) ||
                (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN));
  if (!taken) signal(SIGUSR1, ZpDumpAllThreads);
  return true;
}

bool ZpEnableSyslogStackTrace() {
  logSwitch = true;
  return true;
}

void ZpCrashSignalHandler(int signal, siginfo_t* info, void* context) {
  crashLock.Lock();
  snprintf(headerBuffer, sizeof headerBuffer, "Received signal %d (%s). %d.%d.%d %s, %s\n", signal,
           SignalName(signal), kZpVersionMajor, kZpVersionMinor, kZpVersionPatch, kZpBuildDate,
           kZpBuildIdentifier);
  WriteText(2, headerBuffer);
  if (signal == SIGSEGV && info != nullptr) WriteError("Trying to access address %p\n", info->si_addr);
  ZpPrintStackTrace();
  if (context != nullptr) ZpDumpRegisters(&static_cast<ucontext_t*>(context)->uc_mcontext);
  WriteMemoryLine();

  if (signal == SIGHUP) {
    struct sigaction action = CrashAction();
    sigaction(SIGHUP, &action, nullptr);
    crashLock.Unlock();
    return;
  }
  if (AsksForTheBanner(signal)) {
    WriteError("\n * Please report this crash to %s. *\n"
               " * Along with your VRX+OSL files. Thank you.         *\n",
               kContact);
  }
  _exit(1);
}

bool ZpPrintStackTrace() {
  int fd = 2;
  int logSocket = logSwitch ? OpenLogSocket() : -1;
  if (logSocket >= 0) fd = logSocket;

  WriteTraceLine(fd);
  void* frames[kMaxFrames];
  int count = backtrace(frames, kMaxFrames);
  if (count > 0) {
    if (logSocket < 0) WriteText(fd, "\n");
    backtrace_symbols_fd(frames, count, fd);
    if (logSocket < 0) WriteText(fd, "\n");
  }
  if (logSocket >= 0) close(logSocket);
  return count > 0;
}

void ZpDumpRegisters(const mcontext_t* registers) {
  if (logSwitch || registers == nullptr) return;
  static const struct {
    const char* name;
    int index;
  } kGeneral[] = {{"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX},
                  {"rsp", REG_RSP}, {"rbp", REG_RBP}, {"rsi", REG_RSI}, {"rdi", REG_RDI},
                  {"r8 ", REG_R8},  {"r9 ", REG_R9},  {"r10", REG_R10}, {"r11", REG_R11},
                  {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14}, {"r15", REG_R15}};
  WriteText(2, "\nRegisters dump:\n");
  for (int i = 0; i < 16; ++i) {
    uint64_t value = uint64_t(registers->gregs[kGeneral[i].index]);
    WriteError("%s: 0x%08x%08x%s", kGeneral[i].name, unsigned(value >> 32), unsigned(value),
               i % 2 == 0 ? "  " : "\n");
  }
  if (registers->fpregs == nullptr) return;
  for (int i = 0; i < 16; ++i) {
    const uint32_t* lanes = registers->fpregs->_xmm[i].element;
    float lane0;
    memcpy(&lane0, &lanes[0], sizeof lane0);
    char name[8];
    snprintf(name, sizeof name, i < 10 ? "xmm%i " : "xmm%i", i);
    WriteError("%s: 0x%08x 0x%08x 0x%08x 0x%08x (%g)\n", name, lanes[0], lanes[1], lanes[2],
               lanes[3], double(lane0));
  }
}

int ZpFormatMemoryLine(char* out, size_t size, uint64_t resident, uint64_t physical,
                       uint64_t available) {
  // Without a physical figure there is no load to work out; more available
  // than physical memory would wrap around.
  uint64_t load = physical == 0 || available >= physical ? 0
                                                         : (physical - available) * 100 / physical;
  return snprintf(out, size, "Process is using %u of %u MB. System memory load is %u%%.\n",
                  unsigned(resident / 1000000), unsigned(physical / 1000000), unsigned(load));
}

int ZpPrintMemoryReport() {
  char line[128];
  int length = ZpFormatMemoryLine(line, sizeof line, ZpResidentMemory(), ZpPhysicalMemory(),
                                  ZpAvailableMemory());
  if (length <= 0) return length;
  return int(write(2, line, std::min(size_t(length), sizeof line - 1)));
}

void ZpDumpAllThreads(int /*signal*/) {
  ZpWalkDirectory("/proc/self/task", ZpHangupThread, nullptr, false);
}

void ZpHangupThread(const char* /*fullPath*/, const char* name, void* /*user*/) {
  int thread;
  if (sscanf(name, "%d", &thread) == 1) syscall(SYS_tgkill, getpid(), thread, SIGHUP);
}

uint64_t ZpPhysicalMemory() {
  long pageSize = sysconf(_SC_PAGESIZE);
  long pages = sysconf(_SC_PHYS_PAGES);
  if (pageSize <= 0 || pages <= 0) return 0;
  return uint64_t(pageSize) * uint64_t(pages);
}

uint64_t ZpAvailableMemoryFrom(const char* meminfoPath) {
  return FirstOrLastMatch(meminfoPath, "MemAvailable: %llu kB", false);
}

uint64_t ZpResidentMemoryFrom(const char* statusPath) {
  return FirstOrLastMatch(statusPath, "VmRSS: %llu kB", true);
}

uint64_t ZpAvailableMemory() {
  return ZpAvailableMemoryFrom("/proc/meminfo");
}

uint64_t ZpResidentMemory() {
  return ZpResidentMemoryFrom("/proc/self/status");
}
