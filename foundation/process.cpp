#include "process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <vector>

#include "descriptors.h"

namespace {

enum { kReadEnd = 0, kWriteEnd = 1 };

// The pipes of one spawn; -1 where no pipe is asked for.
struct SpawnPipes {
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  bool sharedStderr = false;
};

void ClosePair(int pair[2]) {
  for (int i = 0; i < 2; ++i) {
    if (pair[i] >= 0) close(pair[i]);
    pair[i] = -1;
  }
}

void CloseAll(SpawnPipes& pipes) {
  ClosePair(pipes.in);
  ClosePair(pipes.out);
  ClosePair(pipes.err);
}

bool MakePipes(SpawnPipes& pipes, bool wantIn, bool wantOut, bool wantErr) {
  if ((wantIn && pipe(pipes.in) != 0) || (wantOut && pipe(pipes.out) != 0) ||
      (wantErr && pipe(pipes.err) != 0)) {
    CloseAll(pipes);
    return false;
  }
  return true;
}

// Runs in the vforked child: only descriptor work, then exec or _exit.
[[noreturn]] void RunChild(const SpawnPipes& pipes, bool newProcessGroup, const char* program,
                           char* const* argv) {
  bool ok = true;
  if (pipes.in[kReadEnd] >= 0) {
    close(pipes.in[kWriteEnd]);
    ok = ok && dup2(pipes.in[kReadEnd], 0) >= 0;
  }
  if (pipes.out[kReadEnd] >= 0) {
    close(pipes.out[kReadEnd]);
    ok = ok && dup2(pipes.out[kWriteEnd], 1) >= 0;
  }
  if (pipes.err[kReadEnd] >= 0) {
    close(pipes.err[kReadEnd]);
    ok = ok && dup2(pipes.err[kWriteEnd], 2) >= 0;
  } else if (pipes.sharedStderr) {
    ok = ok && dup2(pipes.out[kWriteEnd], 2) >= 0;
  }
  if (!ok) _exit(1);
  ZpCloseDescriptorsFrom(3);
  if (newProcessGroup) setpgid(0, 0);
  int result = program[0] == '/' ? execv(program, argv) : execvp(program, argv);
  _exit(result);
}

// Keeps the parent's end of a pipe out of programs started later.
FILE* OpenParentEnd(int fd, const char* mode) {
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fdopen(fd, mode);
}

// Turns the parent's pipe ends into streams, in the order stdin, stdout,
// stderr. On a failure closes what was opened and every end left over.
bool OpenParentStreams(SpawnPipes& pipes, FILE** toStdin, FILE** fromStdout, FILE** fromStderr) {
  struct End {
    int* pair;
    int keep;
    const char* mode;
    FILE** stream;
  } ends[] = {{pipes.in, kWriteEnd, "w", toStdin},
              {pipes.out, kReadEnd, "r", fromStdout},
              {pipes.err, kReadEnd, "r", fromStderr}};
  for (End& end : ends) {
    if (end.pair[0] < 0) continue;
    close(end.pair[1 - end.keep]);
    end.pair[1 - end.keep] = -1;
  }
  bool ok = true;
  for (End& end : ends) {
    if (end.pair[0] < 0 && end.pair[1] < 0) continue;
    int fd = end.pair[end.keep];
    end.pair[end.keep] = -1;
    if (!ok) {
      close(fd);
      continue;
    }
    *end.stream = OpenParentEnd(fd, end.mode);
    if (*end.stream == nullptr) {
      close(fd);
      ok = false;
    }
  }
  if (ok) return true;
  for (End& end : ends) {
    if (end.stream != nullptr && *end.stream != nullptr) {
      fclose(*end.stream);
      *end.stream = nullptr;
    }
  }
  return false;
}

}  // namespace

int64_t ZpSpawnProcess(FILE** toStdin, FILE** fromStdout, FILE** fromStderr, bool newProcessGroup,
                       const char* program, const char* const* args) {
  for (FILE** stream : {toStdin, fromStdout, fromStderr}) {
    if (stream != nullptr) *stream = nullptr;
  }
  if (program == nullptr) return 0;

  // The argument vector is built before the fork, so the child only touches
  // descriptors.
  std::vector<char*> argv{const_cast<char*>(program)};
  for (const char* const* arg = args; arg != nullptr && *arg != nullptr; ++arg) {
    if (argv.size() > size_t(kZpMaxSpawnArguments)) return 0;
    argv.push_back(const_cast<char*>(*arg));
  }
  argv.push_back(nullptr);

  SpawnPipes pipes;
  pipes.sharedStderr = fromStderr != nullptr && fromStderr == fromStdout;
  if (!MakePipes(pipes, toStdin != nullptr, fromStdout != nullptr,
                 fromStderr != nullptr && !pipes.sharedStderr)) {
    return 0;
  }

  pid_t pid = vfork();
  if (pid < 0) {
    CloseAll(pipes);
    return 0;
  }
  if (pid == 0) RunChild(pipes, newProcessGroup, program, argv.data());

  if (!OpenParentStreams(pipes, toStdin, fromStdout, pipes.sharedStderr ? nullptr : fromStderr)) {
    return 0;
  }
  return pid;
}

int ZpWaitProcess(int pid) {
  if (pid < 1) return kZpWaitNoChild;
  int status = 0;
  int result;
  // A signal handled meanwhile (the crash handler's SIGHUP report) must not
  // turn into a failed wait.
  do {
    result = waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return kZpWaitFailed;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kZpWaitSignalBase + WTERMSIG(status);
  return kZpWaitOtherState;
}

bool ZpTerminateProcess(int pid) {
  return pid >= 1 && kill(pid, SIGTERM) == 0;
}

std::string ZpShellQuote(const char* argument) {
  std::string quoted = "'";
  for (const char* c = argument; *c != '\0'; ++c) {
    if (*c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += *c;
    }
  }
  quoted += '\'';
  return quoted;
}

int ZpRunCommandArgv(const char* command, const char* const* args) {
  if (command == nullptr) return -1;
  std::string line = command;
  for (const char* const* arg = args; arg != nullptr && *arg != nullptr; ++arg) {
    line += ' ';
    line += ZpShellQuote(*arg);
  }
  return system(line.c_str());
}

int ZpRunCommand(const char* command, ...) {
  std::vector<const char*> args;
  va_list list;
  va_start(list, command);
  while (const char* arg = va_arg(list, const char*)) args.push_back(arg);
  va_end(list);
  args.push_back(nullptr);
  return ZpRunCommandArgv(command, args.data());
}

FILE* ZpOpenPipe(const char* command, const char* mode) {
  if (command == nullptr || mode == nullptr) return nullptr;
  const char oneCharacter[2] = {mode[0], '\0'};
  return popen(command, oneCharacter);
}

int ZpClosePipe(FILE* pipe) {
  return pclose(pipe);
}
