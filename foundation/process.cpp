#include "process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <utility>
#include <vector>

#include "descriptors.h"
#include "interruption.h"

namespace {

enum { kReadEnd = 0, kWriteEnd = 1 };

// The pipes of one spawn; -1 where no pipe is asked for.
struct SpawnPipes {
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  bool sharedStderr = false;
};

// How a child is started besides its pipes.
struct SpawnSetup {
  bool newProcessGroup = false;
  // The status a child ends with when the program cannot be executed.
  int execFailure = 255;
  // When set, a program that cannot be executed is replaced by /bin/sh with
  // this argument vector, so that the shell reports the failure its own way.
  char* const* shellFallback = nullptr;
  // When set (and standard error is not piped), the child's standard error
  // goes to this descriptor, and so does a standard output that would go to
  // the parent's standard error.
  int errorFd = -1;
  // When set, the program's environment instead of the caller's.
  char* const* environment = nullptr;
};

// Signals are held back while a child is started and registered: an
// interruption then always finds the child it must stop, and no handler of
// the parent runs in the vforked child, which shares the parent's memory.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigfillset(&held);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  const sigset_t& previous() const { return previous_; }

 private:
  sigset_t previous_;
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

// In the vforked child, before the signals are let through again: the
// parent's handlers must not run here (the child shares the parent's memory
// until it executes the program), and the program gets the signal mask the
// parent had before it held signals back.
void ResetSignals(const sigset_t& mask) {
  struct sigaction action;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigaction(signal, nullptr, &action) != 0) continue;
    if ((action.sa_flags & SA_SIGINFO) == 0 &&
        (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN)) {
      continue;
    }
    action.sa_handler = SIG_DFL;
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
  }
  sigprocmask(SIG_SETMASK, &mask, nullptr);
}

// Runs in the vforked child: only descriptor and signal work, then exec or
// _exit. A standard output that is not piped goes to the parent's standard
// error: the parent's standard output carries its own results.
[[noreturn]] void RunChild(const SpawnPipes& pipes, const SpawnSetup& setup,
                           const sigset_t& mask, const char* program, char* const* argv) {
  ResetSignals(mask);
  bool ok = true;
  if (setup.errorFd >= 0 && pipes.err[kReadEnd] < 0 && !pipes.sharedStderr)
    ok = dup2(setup.errorFd, 2) >= 0;
  if (pipes.in[kReadEnd] >= 0) {
    close(pipes.in[kWriteEnd]);
    ok = ok && dup2(pipes.in[kReadEnd], 0) >= 0;
  }
  if (pipes.out[kReadEnd] >= 0) {
    close(pipes.out[kReadEnd]);
    ok = ok && dup2(pipes.out[kWriteEnd], 1) >= 0;
  } else {
    ok = ok && dup2(2, 1) >= 0;
  }
  if (pipes.err[kReadEnd] >= 0) {
    close(pipes.err[kReadEnd]);
    ok = ok && dup2(pipes.err[kWriteEnd], 2) >= 0;
  } else if (pipes.sharedStderr) {
    ok = ok && dup2(pipes.out[kWriteEnd], 2) >= 0;
  }
  if (!ok) _exit(1);
  ZpCloseDescriptorsFrom(3);
  if (setup.newProcessGroup) setpgid(0, 0);
  if (setup.environment != nullptr && program[0] == '/') {
    execve(program, argv, setup.environment);
  } else if (setup.environment != nullptr) {
    execvpe(program, argv, setup.environment);
  } else if (program[0] == '/') {
    execv(program, argv);
  } else {
    execvp(program, argv);
  }
  if (setup.shellFallback != nullptr) execv("/bin/sh", setup.shellFallback);
  _exit(setup.execFailure);
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

namespace {

int64_t Spawn(FILE** toStdin, FILE** fromStdout, FILE** fromStderr, const SpawnSetup& setup,
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

  SignalsHeld held;
  ZpChildStart starting;
  pid_t pid = vfork();
  if (pid < 0) {
    CloseAll(pipes);
    return 0;
  }
  if (pid == 0) RunChild(pipes, setup, held.previous(), program, argv.data());
  ZpRegisterChild(pid, setup.newProcessGroup);

  if (!OpenParentStreams(pipes, toStdin, fromStdout, pipes.sharedStderr ? nullptr : fromStderr)) {
    return 0;
  }
  return pid;
}

// Waits for the child and returns its wait status, or -1 when waitpid
// fails. The child stays registered until it has ended: left a zombie
// meanwhile, its pid cannot be taken by another process that an
// interruption would then stop.
int WaitStatus(pid_t pid) {
  siginfo_t info;
  int result;
  // A signal handled meanwhile (the crash handler's SIGHUP report) must not
  // turn into a failed wait.
  do {
    result = waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT);
  } while (result < 0 && errno == EINTR);
  if (result == 0) ZpUnregisterChild(pid);
  int status = 0;
  do {
    result = waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? -1 : status;
}

// A shell reports a command that a signal ended as 128 + its number.
void EndRunIfShellWasInterrupted(int status) {
  if (status == -1) return;
  if (WIFSIGNALED(status)) ZpEndRunIfChildWasInterrupted(WTERMSIG(status));
  if (WIFEXITED(status) && WEXITSTATUS(status) > 128)
    ZpEndRunIfChildWasInterrupted(WEXITSTATUS(status) - 128);
}

// Runs `command` through /bin/sh in a process group of its own, so that an
// interruption stops every process of the command line.
int64_t SpawnShell(FILE** toStdin, FILE** fromStdout, const char* command, int errorFd = -1) {
  SpawnSetup setup;
  setup.errorFd = errorFd;
  setup.newProcessGroup = true;
  setup.execFailure = 127;  // as the system library's system() and popen()
  const char* args[] = {"-c", command, nullptr};
  return Spawn(toStdin, fromStdout, nullptr, setup, "/bin/sh", args);
}

// The environment the shell gives a program: the caller's, with PWD set to
// the working directory's name unless it names that directory already.
// Fills *pwd and *entries; empty entries when the caller's environment does.
void ShellEnvironment(std::string* pwd, std::vector<char*>* entries) {
  entries->clear();
  const char* named = std::getenv("PWD");
  struct stat there, here;
  if (named && named[0] == '/' && stat(named, &there) == 0 && stat(".", &here) == 0 &&
      there.st_dev == here.st_dev && there.st_ino == here.st_ino) {
    return;
  }
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return;
  *pwd = std::string("PWD=") + cwd;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "PWD=", 4) != 0) entries->push_back(*entry);
  }
  entries->push_back(&(*pwd)[0]);
  entries->push_back(nullptr);
}

// Runs the words of a command line that has no shell syntax as the shell
// would, without the shell: in a process group of its own, searched along
// PATH. A program that cannot be executed is left to the shell, which then
// gives its own message and status (127 not found, 126 not executable).
int64_t SpawnDirect(const std::vector<std::string>& words, const char* line, int errorFd) {
  SpawnSetup setup;
  setup.errorFd = errorFd;
  std::string pwd;
  std::vector<char*> environment;
  ShellEnvironment(&pwd, &environment);
  if (!environment.empty()) setup.environment = environment.data();
  setup.newProcessGroup = true;
  setup.execFailure = 127;
  const char* shellArgv[] = {"/bin/sh", "-c", line, nullptr};
  setup.shellFallback = const_cast<char* const*>(shellArgv);
  std::vector<const char*> args;
  for (size_t i = 1; i < words.size(); ++i) args.push_back(words[i].c_str());
  args.push_back(nullptr);
  return Spawn(nullptr, nullptr, nullptr, setup, words[0].c_str(), args.data());
}

// A program that a signal ended shows as the shell showed it: the shell's
// line on standard error (none for SIGINT and SIGPIPE) and exit status
// 128 + the signal's number, so that callers and users see what they saw.
int AsShellStatus(int status, std::string* output) {
  if (status == -1 || !WIFSIGNALED(status)) return status;
  int signal = WTERMSIG(status);
  if (signal != SIGINT && signal != SIGPIPE) {
    std::string line = strsignal(signal);
    if (WCOREDUMP(status)) line += " (core dumped)";
    line += '\n';
    if (output)
      *output += line;
    else
      std::fputs(line.c_str(), stderr);
  }
  return (128 + signal) << 8;
}

// A file in memory for what a command writes; -1 when none can be made.
int OpenOutputFile() {
  return memfd_create("command output", MFD_CLOEXEC);
}

void ReadOutputFile(int fd, std::string* output) {
  char chunk[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(fd, chunk, sizeof chunk, at)) > 0; at += n)
    output->append(chunk, size_t(n));
}

bool IsPlainWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("/._+,:@%-", c) != nullptr;
}

// Builtins and reserved words of the shells that /bin/sh may be: such a
// first word means something else to the shell than a program of its name.
bool IsShellWord(const std::string& word) {
  static const char* const kWords[] = {
      ".", ":", "[", "[[", "]]", "!", "{", "}", "alias", "bg", "bind", "break", "builtin",
      "caller", "case", "cd", "chdir", "command", "compgen", "complete", "compopt", "continue",
      "coproc", "declare", "dirs", "disown", "do", "done", "echo", "elif", "else", "enable",
      "esac", "eval", "exec", "exit", "export", "false", "fc", "fg", "fi", "for", "function",
      "getopts", "hash", "help", "history", "if", "in", "jobs", "kill", "let", "local",
      "logout", "mapfile", "popd", "printf", "pushd", "pwd", "read", "readarray", "readonly",
      "return", "select", "set", "shift", "shopt", "source", "suspend", "test", "then", "time",
      "times", "trap", "true", "type", "typeset", "ulimit", "umask", "unalias", "unset",
      "until", "wait", "while"};
  for (const char* shellWord : kWords) {
    if (word == shellWord) return true;
  }
  return false;
}

// The children behind the streams of ZpOpenPipe.
std::mutex pipeLock;
std::vector<std::pair<FILE*, pid_t>> pipeChildren;

}  // namespace

int64_t ZpSpawnProcess(FILE** toStdin, FILE** fromStdout, FILE** fromStderr, bool newProcessGroup,
                       const char* program, const char* const* args, int errorFd) {
  SpawnSetup setup;
  setup.newProcessGroup = newProcessGroup;
  setup.errorFd = errorFd;
  return Spawn(toStdin, fromStdout, fromStderr, setup, program, args);
}

int ZpWaitProcess(int pid) {
  if (pid < 1) return kZpWaitNoChild;
  int status = WaitStatus(pid);
  if (status == -1) return kZpWaitFailed;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    ZpEndRunIfChildWasInterrupted(WTERMSIG(status));
    return kZpWaitSignalBase + WTERMSIG(status);
  }
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

bool ZpSplitPlainCommand(const char* command, std::vector<std::string>* words) {
  words->clear();
  // Without PATH the shell and execvp search different default folders.
  if (command == nullptr || std::getenv("PATH") == nullptr) return false;
  std::string word;
  for (const char* c = command;; ++c) {
    if (*c == ' ' || *c == '\t' || *c == '\0') {
      if (!word.empty()) words->push_back(word);
      word.clear();
      if (*c == '\0') break;
      continue;
    }
    // An assignment in front of the program is the shell's to make.
    bool assignment = *c == '=' && words->empty();
    if (assignment || (*c != '=' && !IsPlainWordCharacter(*c))) {
      words->clear();
      return false;
    }
    word += *c;
  }
  if (words->empty() || IsShellWord(words->front())) {
    words->clear();
    return false;
  }
  return true;
}

ZpCapturedOutput::ZpCapturedOutput(bool wanted) : fd_(wanted ? OpenOutputFile() : -1) {}

ZpCapturedOutput::~ZpCapturedOutput() {
  if (fd_ >= 0) close(fd_);
}

std::string ZpCapturedOutput::Text() const {
  std::string text;
  if (fd_ >= 0) ReadOutputFile(fd_, &text);
  return text;
}

int ZpRunCommandArgv(const char* command, const char* const* args) {
  return ZpRunCommandCapturing(command, args, nullptr);
}

int ZpRunCommandCapturing(const char* command, const char* const* args, std::string* output) {
  if (output) output->clear();
  if (command == nullptr) return -1;
  std::string line = command;
  for (const char* const* arg = args; arg != nullptr && *arg != nullptr; ++arg) {
    line += ' ';
    line += ZpShellQuote(*arg);
  }
  // Each quoted argument is one word to the shell, exactly its bytes: with a
  // command of plain words the shell has nothing to do but start a program.
  std::vector<std::string> words;
  bool direct = ZpSplitPlainCommand(command, &words);
  for (const char* const* arg = args; direct && arg != nullptr && *arg != nullptr; ++arg)
    words.push_back(*arg);
  // A file, not a pipe: a program that leaves a child behind holding it
  // cannot keep the run waiting, and nothing has to be read meanwhile.
  ZpCapturedOutput said(output != nullptr);
  // Not system(): it would ignore SIGINT and SIGQUIT while the command runs,
  // and an interruption must end the run then too.
  int64_t pid = direct ? SpawnDirect(words, line.c_str(), said.fd())
                       : SpawnShell(nullptr, nullptr, line.c_str(), said.fd());
  int status = pid <= 0 ? -1 : WaitStatus(pid_t(pid));
  if (said.fd() >= 0) *output = said.Text();
  if (pid <= 0) return -1;
  if (direct) status = AsShellStatus(status, said.fd() >= 0 ? output : nullptr);
  EndRunIfShellWasInterrupted(status);
  return status;
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

FILE* ZpOpenPipe(const char* command, const char* mode, int errorFd) {
  if (command == nullptr || mode == nullptr) return nullptr;
  if (mode[0] != 'r' && mode[0] != 'w') return nullptr;
  FILE* stream = nullptr;
  int64_t pid = mode[0] == 'w' ? SpawnShell(&stream, nullptr, command, errorFd)
                               : SpawnShell(nullptr, &stream, command, errorFd);
  if (pid <= 0) return nullptr;
  std::lock_guard<std::mutex> lock(pipeLock);
  pipeChildren.emplace_back(stream, pid_t(pid));
  return stream;
}

int ZpClosePipe(FILE* pipe) {
  pid_t pid = 0;
  {
    std::lock_guard<std::mutex> lock(pipeLock);
    for (auto it = pipeChildren.begin(); it != pipeChildren.end(); ++it) {
      if (it->first != pipe) continue;
      pid = it->second;
      pipeChildren.erase(it);
      break;
    }
  }
  if (pid == 0) return -1;
  fclose(pipe);
  int status = WaitStatus(pid);
  EndRunIfShellWasInterrupted(status);
  return status;
}
