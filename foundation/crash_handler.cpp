#include "crash_handler.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

#include "mutex.h"
#include "signal_safe_text.h"
#include "version.h"

// Everything a report does must be safe in a signal handler: the signal may
// have stopped the program inside malloc, free or a stdio call. So the
// report formats into stack buffers, reads /proc with open and read, and
// lists the threads with getdents64: no stdio, no allocation.

namespace {

// Every report runs under this lock, so that reports of several threads
// follow one another.
ZpMutex crashLock;
// The thread whose report is running, 0 when none: a fault inside a report
// ends the process at once instead of starting a report of the report.
std::atomic<pid_t> reportingThread{0};
bool logSwitch = false;
char headerBuffer[128];
// Asked once at installation: the system library's query is not one that
// a signal handler may make, and the figure does not change.
uint64_t physicalMemory = 0;

constexpr int kMaxFrames = 64;
// A step of the frame-pointer chain longer than this is taken for a broken
// chain, not for a frame.
constexpr uintptr_t kMaxFrameSize = 16 << 20;
constexpr char kContact[] = "bug@tracwell.invalid";
// The reports of a stack overflow run here, the thread's own stack being
// used up.
constexpr size_t kAlternateStackSize = 256 * 1024;
constexpr int kProcLineSize = 200;

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

void WriteText(int fd, const char* text) { ZpWriteAll(fd, text, strlen(text)); }

pid_t CurrentThread() { return pid_t(syscall(SYS_gettid)); }

struct sigaction CrashAction() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = ZpCrashSignalHandler;
  // SA_RESTART: a hangup is reported and the program goes on, so a read or
  // write it interrupts must go on too instead of failing with EINTR and
  // losing input or output. SA_ONSTACK: a stack overflow is reported too.
  // SA_NODEFER: a fault inside a report reaches the handler, which ends the
  // process, instead of the system killing it without a word.
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK | SA_NODEFER;
  // A hangup waits for the report that is running to end.
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGHUP);
  return action;
}

void InstallAlternateStack() {
  void* memory = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack;
  memset(&stack, 0, sizeof stack);
  stack.ss_sp = memory;
  stack.ss_size = kAlternateStackSize;
  if (sigaltstack(&stack, nullptr) != 0) munmap(memory, kAlternateStackSize);
}

// Reads one word of this process's memory without faulting: false when the
// address cannot be read. The kernel does the reading, so a broken chain
// costs a failed call, not a fault inside the report.
bool ReadWord(uintptr_t address, uintptr_t* word) {
  iovec local = {word, sizeof *word};
  iovec remote = {reinterpret_cast<void*>(address), sizeof *word};
  // A call the kernel could not serve just now (no memory for the request,
  // a signal) is tried again; only an unreadable address ends the walk.
  for (int attempt = 0; attempt < 8; ++attempt) {
    long n = syscall(SYS_process_vm_readv, getpid(), &local, 1, &remote, 1, 0);
    if (n == long(sizeof *word)) return true;
    if (n >= 0 || (errno != EINTR && errno != ENOMEM && errno != EAGAIN)) return false;
  }
  return false;
}

// The return addresses of the frame-pointer chain that starts at (pc, fp):
// pc first. The chain is walked by hand rather than by the system's
// unwinder: a signal may stop the program inside that unwinder (while an
// exception travels up), whose state a second walk must not touch. The
// walk ends where the chain stops going up the stack or cannot be read; a
// function built without frame pointers is passed over.
int WalkFramePointers(uintptr_t pc, uintptr_t fp, void** frames, int max) {
  int count = 0;
  if (pc != 0) frames[count++] = reinterpret_cast<void*>(pc);
  while (count < max && fp != 0 && fp % sizeof(uintptr_t) == 0) {
    uintptr_t caller, returnAddress;
    if (!ReadWord(fp, &caller) || !ReadWord(fp + sizeof(uintptr_t), &returnAddress)) break;
    if (returnAddress == 0) break;
    frames[count++] = reinterpret_cast<void*>(returnAddress);
    if (caller <= fp || caller - fp > kMaxFrameSize) break;
    fp = caller;
  }
  return count;
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

// "StackTrace() at 0x" and 16 hexadecimal digits.
void WriteTraceLine(int fd) {
  ZpSignalSafeText line;
  line.Add("StackTrace() at 0x").AddHex(reinterpret_cast<uint64_t>(&ZpPrintStackTrace), 16);
  line.AddChar('\n').WriteTo(fd);
}

// Calls `take` with each line of the file (cut at kProcLineSize - 1 bytes,
// the rest of a longer line skipped) until it returns false. False when
// the file cannot be opened.
template <typename Take>
bool ForEachLine(const char* path, Take take) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[1024];
  char line[kProcLineSize];
  int length = 0;
  bool more = true;
  for (ssize_t n; more && ((n = read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR));) {
    for (ssize_t i = 0; more && i < n; ++i) {
      if (chunk[i] != '\n') {
        if (length < kProcLineSize - 1) line[length++] = chunk[i];
        continue;
      }
      line[length] = '\0';
      more = take(line);
      length = 0;
    }
  }
  if (more && length > 0) {
    line[length] = '\0';
    take(line);
  }
  close(fd);
  return true;
}

// "<key> <number> kB" as sscanf's "<key> %llu kB" reads it: the number of
// kilobytes, or false.
bool ParseKilobytes(const char* line, const char* key, uint64_t* kilobytes) {
  size_t keyLength = strlen(key);
  if (strncmp(line, key, keyLength) != 0) return false;
  const char* p = line + keyLength;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  if (*p < '0' || *p > '9') return false;
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + uint64_t(*p - '0');
  *kilobytes = value;
  return true;
}

uint64_t FirstOrLastMatch(const char* path, const char* key, bool last) {
  uint64_t result = 0;
  ForEachLine(path, [&](const char* line) {
    uint64_t kilobytes;
    if (!ParseKilobytes(line, key, &kilobytes)) return true;
    result = kilobytes * 1024;
    return last;
  });
  return result;
}

void WriteMemoryLine() {
  char line[128];
  size_t length = size_t(ZpFormatMemoryLine(line, sizeof line, ZpResidentMemory(),
                                            physicalMemory, ZpAvailableMemory()));
  ZpWriteAll(2, line, length < sizeof line ? length : sizeof line - 1);
}

bool AsksForTheBanner(int signal) {
  return signal == SIGILL || signal == SIGBUS || signal == SIGFPE || signal == SIGSEGV;
}

void WriteHeader(int signal) {
  ZpSignalSafeText header(sizeof headerBuffer - 1);
  header.Add("Received signal ").AddSigned(signal).Add(" (").Add(SignalName(signal)).Add("). ");
  header.AddSigned(kZpVersionMajor).AddChar('.').AddSigned(kZpVersionMinor).AddChar('.');
  header.AddSigned(kZpVersionPatch).AddChar(' ').Add(kZpBuildDate).Add(", ");
  header.Add(kZpBuildIdentifier).AddChar('\n');
  memcpy(headerBuffer, header.Text(), header.Length() + 1);
  WriteText(2, headerBuffer);
}

// A signal met by the thread whose report is running: the report itself
// failed, so the process ends here, once.
[[noreturn]] void EndAfterFaultInReport(int signal) {
  ZpSignalSafeText line;
  line.Add("Received signal ").AddSigned(signal).Add(" (").Add(SignalName(signal));
  line.Add(") during the report.\n").WriteTo(2);
  _exit(1);
}

// The stack-trace section from the interrupted thread's machine context, or
// from the caller's frame without one.
__attribute__((noinline)) bool PrintStackTraceFrom(const ucontext_t* context) {
  int fd = 2;
  int logSocket = logSwitch ? OpenLogSocket() : -1;
  if (logSocket >= 0) fd = logSocket;

  WriteTraceLine(fd);
  void* frames[kMaxFrames];
  int count;
  if (context != nullptr) {
    count = WalkFramePointers(uintptr_t(context->uc_mcontext.gregs[REG_RIP]),
                              uintptr_t(context->uc_mcontext.gregs[REG_RBP]), frames, kMaxFrames);
  } else {
    // This function's own return address needs no reading of memory, so
    // the section names at least its caller whatever the walk meets.
    uintptr_t callerFrame = 0;
    if (!ReadWord(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)), &callerFrame))
      callerFrame = 0;
    count = WalkFramePointers(reinterpret_cast<uintptr_t>(__builtin_return_address(0)),
                              callerFrame, frames, kMaxFrames);
  }
  if (count > 0) {
    if (logSocket < 0) WriteText(fd, "\n");
    // Names the frames through the dynamic loader's tables, not the unwinder.
    backtrace_symbols_fd(frames, count, fd);
    if (logSocket < 0) WriteText(fd, "\n");
  }
  if (logSocket >= 0) close(logSocket);
  return count > 0;
}

void WriteReport(int signal, siginfo_t* info, void* context) {
  WriteHeader(signal);
  if (signal == SIGSEGV && info != nullptr) {
    ZpSignalSafeText line;
    line.Add("Trying to access address ").AddPointer(info->si_addr).AddChar('\n').WriteTo(2);
  }
  PrintStackTraceFrom(static_cast<const ucontext_t*>(context));
  if (context != nullptr) ZpDumpRegisters(&static_cast<ucontext_t*>(context)->uc_mcontext);
  WriteMemoryLine();
}

}  // namespace

bool ZpInstallCrashHandler() {
  if (getenv("ZP_DUMP_CORE") != nullptr) return false;
  // The first backtrace_symbols_fd() may load what it needs; do it now
  // rather than inside a signal handler.
  void* frame = reinterpret_cast<void*>(&ZpInstallCrashHandler);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    backtrace_symbols_fd(&frame, 1, null);
    close(null);
  }
  physicalMemory = ZpPhysicalMemory();
  InstallAlternateStack();

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

void ZpPrepareThreadForCrashReports() { InstallAlternateStack(); }

bool ZpEnableSyslogStackTrace() {
  logSwitch = true;
  return true;
}

void ZpCrashSignalHandler(int signal, siginfo_t* info, void* context) {
  int savedErrno = errno;
  pid_t self = CurrentThread();
  if (reportingThread.load() == self) EndAfterFaultInReport(signal);
  crashLock.Lock();
  reportingThread.store(self);
  WriteReport(signal, info, context);

  if (signal == SIGHUP) {
    struct sigaction action = CrashAction();
    sigaction(SIGHUP, &action, nullptr);
    reportingThread.store(0);
    crashLock.Unlock();
    errno = savedErrno;
    return;
  }
  if (AsksForTheBanner(signal)) {
    ZpSignalSafeText banner;
    banner.Add("\n * Please report this crash to ").Add(kContact).Add(". *\n");
    banner.Add(" * Along with your VRX+OSL files. Thank you.         *\n").WriteTo(2);
  }
  _exit(1);
}

bool ZpPrintStackTrace() { return PrintStackTraceFrom(nullptr); }

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
    ZpSignalSafeText line;
    line.Add(kGeneral[i].name).Add(": 0x");
    line.AddHex(uint64_t(registers->gregs[kGeneral[i].index]), 16).Add(i % 2 == 0 ? "  " : "\n");
    line.WriteTo(2);
  }
  if (registers->fpregs == nullptr) return;
  for (int i = 0; i < 16; ++i) {
    const uint32_t* lanes = registers->fpregs->_xmm[i].element;
    float lane0;
    memcpy(&lane0, &lanes[0], sizeof lane0);
    ZpSignalSafeText line;
    line.Add("xmm").AddSigned(i).Add(i < 10 ? " :" : ":");
    for (int lane = 0; lane < 4; ++lane) line.Add(" 0x").AddHex(lanes[lane], 8);
    line.Add(" (").AddGeneral(lane0).Add(")\n").WriteTo(2);
  }
}

int ZpFormatMemoryLine(char* out, size_t size, uint64_t resident, uint64_t physical,
                       uint64_t available) {
  // Without a physical figure there is no load to work out; more available
  // than physical memory would wrap around.
  uint64_t load = physical == 0 || available >= physical ? 0
                                                         : (physical - available) * 100 / physical;
  ZpSignalSafeText line;
  line.Add("Process is using ").AddDecimal(uint32_t(resident / 1000000)).Add(" of ");
  line.AddDecimal(uint32_t(physical / 1000000)).Add(" MB. System memory load is ");
  line.AddDecimal(uint32_t(load)).Add("%.\n");
  if (size > 0) {
    size_t length = line.Length() < size ? line.Length() : size - 1;
    memcpy(out, line.Text(), length);
    out[length] = '\0';
  }
  return int(line.WantedLength());
}

int ZpPrintMemoryReport() {
  char line[128];
  int length = ZpFormatMemoryLine(line, sizeof line, ZpResidentMemory(), ZpPhysicalMemory(),
                                  ZpAvailableMemory());
  if (length <= 0) return length;
  return int(write(2, line, size_t(length) < sizeof line ? size_t(length) : sizeof line - 1));
}

void ZpDumpAllThreads(int /*signal*/) {
  int savedErrno = errno;
  int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    // getdents64 fills the buffer with records of this layout.
    struct LinuxDirent64 {
      uint64_t inode;
      int64_t offset;
      unsigned short length;
      unsigned char type;
      char name[1];
    };
    alignas(8) char records[4096];
    for (long n; (n = syscall(SYS_getdents64, fd, records, sizeof records)) > 0;) {
      for (long at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const LinuxDirent64*>(records + at);
        ZpSignalSafeText path;
        path.Add("/proc/self/task/").Add(entry->name);
        ZpHangupThread(path.Text(), entry->name, nullptr);
        at += entry->length;
      }
    }
    close(fd);
  }
  errno = savedErrno;
}

void ZpHangupThread(const char* /*fullPath*/, const char* name, void* /*user*/) {
  int thread;
  if (ZpParseDecimal(name, &thread)) syscall(SYS_tgkill, getpid(), thread, SIGHUP);
}

uint64_t ZpPhysicalMemory() {
  long pageSize = sysconf(_SC_PAGESIZE);
  long pages = sysconf(_SC_PHYS_PAGES);
  if (pageSize <= 0 || pages <= 0) return 0;
  return uint64_t(pageSize) * uint64_t(pages);
}

uint64_t ZpAvailableMemoryFrom(const char* meminfoPath) {
  return FirstOrLastMatch(meminfoPath, "MemAvailable:", false);
}

uint64_t ZpResidentMemoryFrom(const char* statusPath) {
  return FirstOrLastMatch(statusPath, "VmRSS:", true);
}

uint64_t ZpAvailableMemory() {
  return ZpAvailableMemoryFrom("/proc/meminfo");
}

uint64_t ZpResidentMemory() {
  return ZpResidentMemoryFrom("/proc/self/status");
}
