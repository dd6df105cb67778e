// Ending a run on SIGINT, SIGTERM or SIGQUIT without leaving half-done work
// behind: the children that run are stopped, the files being written are
// removed, one line is written to standard error, and the process exits with
// status 128 + the signal's number.
//
// What is running and what is being written is kept in a process-wide
// registry that any thread may add to and take from. Adding and taking are a
// few atomic operations (and, for a file, one allocation); the signal handler
// reads the registry with atomic operations only, so it may run at any moment
// on any thread. Children and files are registered by their owners:
//
//   int ticket = ZpRegisterPartialFile(folderFd, ".tmp.a.tif");
//   int fd = openat(folderFd, ".tmp.a.tif", O_WRONLY | O_CREAT | O_EXCL, 0666);
//   if (!ZpStillRegistered(ticket)) ...  // interrupted meanwhile: see below
//   ... write, then rename into place or remove it ...
//   ZpUnregister(ticket);
//
// Register a file before creating it, and unregister it only once its final
// name holds it whole (or it is removed), so that no moment leaves an
// unregistered partial file. Register a child as soon as it exists (the
// process functions of process.h do this for every child they start).
//
// Once an interruption has begun, every entry belongs to it: a call that
// would add or take one does not return (the thread waits for the exit).
// Nothing is ever freed by the handler.
#pragma once

#include <sys/types.h>

// Installs the handlers of SIGINT, SIGTERM and SIGQUIT, which end the run as
// ZpEndInterruptedRun describes. `message` (say "tracwell: interrupted") is
// copied, cut at 255 bytes, and written with a line feed.
void ZpInstallInterruptHandler(const char* message);

// True once ZpInstallInterruptHandler has run.
bool ZpInterruptHandlerInstalled();

// Stops every registered child (SIGTERM to it, or to its process group; after
// two seconds SIGKILL), waits for them, removes every registered file, writes
// the message and ends the process with status 128 + signal. Safe in a
// signal handler. Called by a second thread meanwhile, it waits for the first.
[[noreturn]] void ZpEndInterruptedRun(int signal);

// Ends the run as interrupted by `signal` when the handler is installed and
// `signal` is SIGINT or SIGQUIT: a child that ended by one of them was
// interrupted from the terminal, and so is the run. Returns otherwise.
void ZpEndRunIfChildWasInterrupted(int signal);

// Lives while a thread starts a child and registers it, with the
// interruption signals blocked on that thread: an interruption that begins
// meanwhile on another thread waits for the child to be registered, and
// stops it too. Made once an interruption has begun, it does not return.
class ZpChildStart {
 public:
  ZpChildStart();
  ~ZpChildStart();
  ZpChildStart(const ZpChildStart&) = delete;
  ZpChildStart& operator=(const ZpChildStart&) = delete;
};

// Adds a child; with processGroup the child leads a process group of its own,
// and the whole group is stopped. A ticket, or -1 when the registry is full
// (the child then runs unprotected).
int ZpRegisterChild(pid_t pid, bool processGroup);

// Takes out the child entry of `pid` (the first one, when several share it).
void ZpUnregisterChild(pid_t pid);

// Adds a file that is being written, named relative to the open folder
// `directoryFd` (or AT_FDCWD); the folder must stay open while the entry is
// there. A ticket, or -1 when the registry is full or the name is empty.
int ZpRegisterPartialFile(int directoryFd, const char* name);

// Takes out an entry. -1 is ignored.
void ZpUnregister(int ticket);

// False once an interruption has taken the entry: a file created after the
// interruption began must be removed by its creator (the handler may have
// looked before it existed). True for -1.
bool ZpStillRegistered(int ticket);

// A file registered for the lifetime of the object, by path.
class ZpPartialFile {
 public:
  explicit ZpPartialFile(const char* path);
  ~ZpPartialFile();
  ZpPartialFile(const ZpPartialFile&) = delete;
  ZpPartialFile& operator=(const ZpPartialFile&) = delete;

 private:
  int ticket_;
};
