// Starting other programs: directly with pipes to their standard streams,
// through the shell with quoted arguments, or through the shell with one pipe.
// Failures are reported by the result; nothing is printed.
//
// Every child is registered with the interruption registry (interruption.h)
// from its start until it has been waited for, so that SIGINT, SIGTERM or
// SIGQUIT stops it; a child's standard output that is not piped goes to the
// caller's standard error, never to its standard output. A child (or, for a
// shell command, the command) that ends by SIGINT or SIGQUIT ends the run as
// interrupted, once the interruption handler is installed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Starts `program` with the argument vector `program`, args... (args ends
// with a null pointer and never repeats the program name). Each non-null
// stream pointer receives a pipe to that standard stream of the child; a null
// one leaves standard input and standard error inherited and sends standard
// output to the caller's standard error. Passing the same pointer for fromStdout and
// fromStderr sends both outputs into one pipe. A program beginning with "/" is
// run as it stands, any other is searched along PATH. With newProcessGroup the
// child leads a process group of its own. Returns the child's pid, or 0 (all
// stream pointers null) when a pipe, the fork or a stream cannot be made, or
// when there are more than kZpMaxSpawnArguments arguments. A program that
// cannot be executed ends the child with status 255.
// errorFd, when not -1 and fromStderr is null, takes the child's standard
// error (and a standard output that is not piped) instead of the caller's.
int64_t ZpSpawnProcess(FILE** toStdin, FILE** fromStdout, FILE** fromStderr, bool newProcessGroup,
                       const char* program, const char* const* args, int errorFd = -1);

constexpr int kZpMaxSpawnArguments = 1023;

// Status codes of ZpWaitProcess besides the child's own exit status (0-255).
constexpr int kZpWaitNoChild = 2000;        // pid below 1
constexpr int kZpWaitFailed = 2001;         // waitpid failed
constexpr int kZpWaitOtherState = 2002;     // neither exited nor killed
constexpr int kZpWaitSignalBase = 1000;     // + the number of the killing signal

// Waits for the child `pid` and returns its exit status, 1000 + the signal
// that killed it, or one of the codes above.
int ZpWaitProcess(int pid);

// Sends SIGTERM to `pid`; true when the signal was sent. A pid below 1 is
// refused, since kill() would take it for a whole process group.
bool ZpTerminateProcess(int pid);

// Runs `command` through the shell (/bin/sh -c, in a process group of its
// own) followed by the null-terminated list of const char* arguments, each
// quoted so that it reaches the program as exactly one argument whatever
// bytes it holds, and waits for it. Returns the wait status, as system()
// would (127 when the shell cannot run, -1 when it cannot be started).
//
// A command of plain words (ZpSplitPlainCommand) is started without the
// shell, with the same effect: searched along PATH, in a process group of
// its own, a program ended by a signal reported as the shell reports it
// (exit status 128 + the signal), and a program that cannot be executed
// left to the shell, which then gives its message and status (127, 126).
int ZpRunCommand(const char* command, ...);

// ZpRunCommand with a null-terminated array of arguments.
int ZpRunCommandArgv(const char* command, const char* const* args);

// ZpRunCommandArgv with what the command writes to its standard output and
// standard error (the shell's own messages included) given in *output, in
// the order written, instead of on the caller's standard error; so several
// threads may run commands and write what each said in an order of their
// choosing. Should no file for it be made, the output goes to standard
// error as with ZpRunCommandArgv, and *output stays empty.
int ZpRunCommandCapturing(const char* command, const char* const* args, std::string* output);

// Splits `command` at blanks and tabs into *words when the shell would only
// split it there and start a program: every word of letters, digits and
// "/._+,:@%-" ("=" too after the first word), the first word no builtin or
// reserved word of a shell, and PATH set. False (and no words) for anything
// else, which then goes through the shell.
bool ZpSplitPlainCommand(const char* command, std::vector<std::string>* words);

// `argument` quoted for the shell as one word: in single quotes, with each
// single quote inside written as '\''.
std::string ZpShellQuote(const char* argument);

// Runs `command` through the shell, as popen does, with a pipe to its
// standard input ("w" as the first character of `mode`, "wb" included) or
// from its standard output ("r"); null on failure or for another mode.
// errorFd, when not -1, takes the shell's standard error (and a standard
// output that is not piped) instead of the caller's.
FILE* ZpOpenPipe(const char* command, const char* mode, int errorFd = -1);

// A file in memory that a child's standard error can be sent to (fd()),
// read back once the child has ended: several threads can then run children
// and write what each said where and when they choose. fd() is -1 when no
// file was wanted or none could be made; the child then writes to the
// caller's standard error as usual, and Text() is empty.
class ZpCapturedOutput {
 public:
  explicit ZpCapturedOutput(bool wanted = true);
  ~ZpCapturedOutput();
  ZpCapturedOutput(const ZpCapturedOutput&) = delete;
  ZpCapturedOutput& operator=(const ZpCapturedOutput&) = delete;
  int fd() const { return fd_; }
  // Everything written to the file so far.
  std::string Text() const;

 private:
  int fd_;
};

// Closes the stream and waits for the command, as pclose does; its wait
// status, or -1 for a stream that ZpOpenPipe did not open.
int ZpClosePipe(FILE* pipe);
