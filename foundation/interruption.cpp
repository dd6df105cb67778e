#include "interruption.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "checked_alloc.h"

namespace {

enum class Kind : uint8_t { kChild, kFile };

// One registered child or file. Made by its owner, read by the handler,
// freed only by the owner once its slot is empty again.
struct Entry {
  Kind kind;
  bool processGroup;
  pid_t pid;
  int directoryFd;
  char name[1];  // the file's name, NUL-terminated, allocated to its length
};

constexpr int kSlots = 1024;
// What a slot holds once the interruption has taken it.
Entry* const kTaken = reinterpret_cast<Entry*>(uintptr_t{1});

std::atomic<Entry*> slots[kSlots];
// The pid of the child in each slot, 0 for none: a thread finds its own
// child's slot without reading the entries of other threads, which their
// owners may free meanwhile.
std::atomic<pid_t> slotPids[kSlots];
std::atomic<bool> ending{false};
// Children being started (ZpChildStart), and those of them that met the
// interruption when they were registered: the interruption waits for the
// first and stops the second. Negative: a process group.
std::atomic<int> childrenStarting{0};
std::atomic<pid_t> lateChildren[kSlots];
thread_local int childStartDepth = 0;
std::atomic<bool> installed{false};
char message[257];
size_t messageLength = 0;

[[noreturn]] void WaitForTheExit() {
  for (;;) pause();
}

// A child started while another thread began the interruption: that thread
// may have taken the registry before the child was in it, and waits for the
// children being started to be handed over here.
[[noreturn]] void HandOverLateChild(const Entry* child) {
  pid_t pid = child->processGroup ? -child->pid : child->pid;
  for (int i = 0; i < kSlots; ++i) {
    pid_t expected = 0;
    if (lateChildren[i].compare_exchange_strong(expected, pid)) break;
  }
  if (childStartDepth > 0) childrenStarting.fetch_sub(1);
  WaitForTheExit();
}

int Add(Entry* entry) {
  for (int i = 0; i < kSlots; ++i) {
    Entry* expected = nullptr;
    if (slots[i].compare_exchange_strong(expected, entry)) {
      if (entry->kind == Kind::kChild) slotPids[i] = entry->pid;
      return i;
    }
    if (expected == kTaken) {
      if (entry->kind == Kind::kChild) HandOverLateChild(entry);
      WaitForTheExit();
    }
  }
  std::free(entry);
  return -1;
}

void Take(int ticket) {
  slotPids[ticket] = 0;
  Entry* entry = slots[ticket].load();
  if (entry == kTaken || !slots[ticket].compare_exchange_strong(entry, nullptr)) WaitForTheExit();
  std::free(entry);
}

void Sleep(long nanoseconds) {
  timespec pause = {0, nanoseconds};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void Signal(const Entry* child, int signal) {
  kill(child->processGroup ? -child->pid : child->pid, signal);
}

// True once the child has ended (or is none of ours); it is left a zombie,
// so that its pid and group cannot be taken by another process meanwhile.
bool Ended(const Entry* child) {
  siginfo_t info;
  info.si_pid = 0;
  int result = waitid(P_PID, id_t(child->pid), &info, WEXITED | WNOHANG | WNOWAIT);
  return (result < 0 && errno != EINTR) || (result == 0 && info.si_pid != 0);
}

// Waits up to `nanoseconds` for every child to end; true when they have.
bool AllEnded(Entry* const* taken, long nanoseconds) {
  constexpr long kStep = 10 * 1000 * 1000;
  for (long waited = 0;; waited += kStep) {
    bool all = true;
    for (int i = 0; i < kSlots; ++i) {
      const Entry* entry = taken[i];
      if (entry != nullptr && entry->kind == Kind::kChild && !Ended(entry)) all = false;
    }
    if (all) return true;
    if (waited >= nanoseconds) return false;
    Sleep(kStep);
  }
}

void StopChildren(Entry* const* taken) {
  bool any = false;
  for (int i = 0; i < kSlots; ++i) {
    if (taken[i] != nullptr && taken[i]->kind == Kind::kChild) {
      Signal(taken[i], SIGTERM);
      any = true;
    }
  }
  if (!any || AllEnded(taken, 2000L * 1000 * 1000)) return;
  for (int i = 0; i < kSlots; ++i) {
    if (taken[i] != nullptr && taken[i]->kind == Kind::kChild) Signal(taken[i], SIGKILL);
  }
  AllEnded(taken, 1000L * 1000 * 1000);
}

bool RemoveFiles(Entry* const* taken) {
  bool any = false;
  for (int i = 0; i < kSlots; ++i) {
    const Entry* entry = taken[i];
    if (entry == nullptr || entry->kind != Kind::kFile) continue;
    unlinkat(entry->directoryFd, entry->name, 0);
    any = true;
  }
  return any;
}

// The children that threads were starting when the interruption began,
// once those threads have registered them (or given up), within a bound.
void StopLateChildren() {
  constexpr long kStep = 1000 * 1000;
  for (long waited = 0; childrenStarting.load() > 0 && waited < 2000L * kStep; waited += kStep)
    Sleep(kStep);
  static Entry late[kSlots];
  static Entry* lateTaken[kSlots];
  bool any = false;
  for (int i = 0; i < kSlots; ++i) {
    pid_t pid = lateChildren[i].exchange(0);
    lateTaken[i] = nullptr;
    if (pid == 0) continue;
    late[i].kind = Kind::kChild;
    late[i].processGroup = pid < 0;
    late[i].pid = pid < 0 ? -pid : pid;
    lateTaken[i] = &late[i];
    any = true;
  }
  if (any) StopChildren(lateTaken);
}

void Handle(int signal) { ZpEndInterruptedRun(signal); }

}  // namespace

void ZpInstallInterruptHandler(const char* text) {
  size_t length = std::strlen(text);
  if (length > sizeof message - 2) length = sizeof message - 2;
  std::memcpy(message, text, length);
  message[length] = '\n';
  messageLength = length + 1;

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = Handle;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) sigaddset(&action.sa_mask, signal);
  for (int signal : {SIGINT, SIGTERM, SIGQUIT}) sigaction(signal, &action, nullptr);
  installed.store(true);
}

bool ZpInterruptHandlerInstalled() { return installed.load(); }

void ZpEndInterruptedRun(int signal) {
  if (ending.exchange(true)) WaitForTheExit();
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int s : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) sigaddset(&blocked, s);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

  // From here on no owner can add, change or free an entry.
  Entry* taken[kSlots];
  for (int i = 0; i < kSlots; ++i) {
    Entry* entry = slots[i].exchange(kTaken);
    taken[i] = entry == kTaken ? nullptr : entry;
  }
  // Children first: a child still writing could make a removed file again.
  StopChildren(taken);
  StopLateChildren();
  if (RemoveFiles(taken)) {
    // A file whose creation was under way while the entries were taken
    // exists by now; its creator removes it too when it sees the entry gone.
    Sleep(20 * 1000 * 1000);
    RemoveFiles(taken);
  }
  ssize_t ignored = write(2, message, messageLength);
  (void)ignored;
  _exit(128 + signal);
}

void ZpEndRunIfChildWasInterrupted(int signal) {
  if ((signal == SIGINT || signal == SIGQUIT) && ZpInterruptHandlerInstalled())
    ZpEndInterruptedRun(signal);
}

ZpChildStart::ZpChildStart() {
  childrenStarting.fetch_add(1);
  ++childStartDepth;
  // Begun after the interruption looked for children being started: this
  // one must not start.
  if (ending.load()) {
    --childStartDepth;
    childrenStarting.fetch_sub(1);
    WaitForTheExit();
  }
}

ZpChildStart::~ZpChildStart() {
  --childStartDepth;
  childrenStarting.fetch_sub(1);
}

int ZpRegisterChild(pid_t pid, bool processGroup) {
  if (pid < 1) return -1;
  auto* entry = static_cast<Entry*>(ZpCheckedMalloc(sizeof(Entry)));
  entry->kind = Kind::kChild;
  entry->processGroup = processGroup;
  entry->pid = pid;
  entry->directoryFd = -1;
  entry->name[0] = '\0';
  return Add(entry);
}

void ZpUnregisterChild(pid_t pid) {
  // A pid is unique while its child is registered: it stays a zombie until
  // this has run.
  for (int i = 0; i < kSlots; ++i) {
    if (slotPids[i].load() != pid) continue;
    if (slots[i].load() == kTaken) WaitForTheExit();
    return Take(i);
  }
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].load() == kTaken) WaitForTheExit();
  }
}

int ZpRegisterPartialFile(int directoryFd, const char* name) {
  size_t length = name == nullptr ? 0 : std::strlen(name);
  if (length == 0) return -1;
  auto* entry = static_cast<Entry*>(ZpCheckedMalloc(sizeof(Entry) + length));
  entry->kind = Kind::kFile;
  entry->processGroup = false;
  entry->pid = 0;
  entry->directoryFd = directoryFd;
  std::memcpy(entry->name, name, length + 1);
  return Add(entry);
}

void ZpUnregister(int ticket) {
  if (ticket >= 0 && ticket < kSlots) Take(ticket);
}

bool ZpStillRegistered(int ticket) {
  return ticket < 0 || ticket >= kSlots || slots[ticket].load() != kTaken;
}

ZpPartialFile::ZpPartialFile(const char* path) : ticket_(ZpRegisterPartialFile(AT_FDCWD, path)) {}

ZpPartialFile::~ZpPartialFile() { ZpUnregister(ticket_); }
