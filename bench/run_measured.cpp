// Runs one command and reports its wall time and its own peak memory.
//
//   run_measured [-o FILE] COMMAND ARGS...
//
// The command's standard output goes to FILE (default /dev/null), its
// standard error is kept. Prints "seconds=S peak_kb=K status=N" on standard
// output. The child is forked from this small program rather than from the
// benchmark's interpreter: a child's peak resident size starts from its
// parent's at the fork, so measuring from Python would count Python.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const char* output = "/dev/null";
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-o") == 0) {
    output = argv[2];
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: run_measured [-o FILE] COMMAND ARGS...\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
    execvp(argv[first], argv + first);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    return 2;
  }
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("seconds=%.6f peak_kb=%ld status=%d\n", seconds.count(), usage.ru_maxrss, code);
  return 0;
}
