#include "descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// In a forked child: lowers the descriptor limit to 512, leaves open exactly
// descriptors 3 to 9, 200 and 300, runs `closer` from `first` and checks
// that exactly those below `first` are left. Returns what the child found
// wrong.
std::string CheckInChild(void (*closer)(int first), int first) {
  int report[2];
  if (pipe(report) != 0) return "no pipe";
  pid_t pid = fork();
  if (pid == 0) {
    // The report pipe must survive: it is moved below 3, over standard input.
    dup2(report[1], 0);
    rlimit limit{512, 512};
    setrlimit(RLIMIT_NOFILE, &limit);
    for (int fd = 3; fd < 512; ++fd) close(fd);
    int file = open("/dev/null", O_RDONLY);
    while (file >= 0 && file < 9) file = dup(file);
    dup2(file, 200);
    dup2(file, 300);
    closer(first);
    std::string wrong;
    for (int fd = 3; fd < 512; ++fd) {
      if (IsOpen(fd) != (fd < first && (fd <= 9 || fd == 200 || fd == 300))) {
        wrong += (IsOpen(fd) ? " open " : " closed ") + std::to_string(fd);
      }
    }
    if (!IsOpen(1) || !IsOpen(2)) wrong += " standard streams closed";
    (void)!write(0, wrong.data(), wrong.size());
    _exit(0);
  }
  close(report[1]);
  std::string wrong;
  char chunk[256];
  ssize_t n;
  while ((n = read(report[0], chunk, sizeof chunk)) > 0) wrong.append(chunk, size_t(n));
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) wrong += " child failed";
  return wrong;
}

void ListedOnly(int first) {
  if (!ZpCloseListedDescriptorsFrom(first)) _exit(3);
}

TEST(CloseDescriptorsTest, EveryWayClosesExactlyTheDescriptorsFromTheFirst) {
  struct Way {
    const char* name;
    void (*closer)(int);
  } ways[] = {{"close_range or a fallback", ZpCloseDescriptorsFrom},
              {"the /proc/self/fd listing", ListedOnly},
              {"the loop below the limit", ZpCloseDescriptorsBelowLimit}};
  for (const Way& way : ways) {
    for (int first : {3, 6, 250}) {
      EXPECT_EQ(CheckInChild(way.closer, first), "") << way.name << " from " << first;
    }
  }
}

}  // namespace
