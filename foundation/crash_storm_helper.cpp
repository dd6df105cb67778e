// Test helper for the crash handler: throws and catches an exception over
// and over for a second and a half while another thread sends this one
// hangups, then prints "all caught" when every report has let the program
// go on. Built without frame pointers, as the system's libraries are: a
// stack walk by the system's unwinder, started while that same unwinder was
// halfway through its own work, went astray here within a fraction of a
// second.
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "crash_handler.h"

struct Thrown {
  int value;
};

__attribute__((noinline)) void Thrower(int i) {
  if (i >= 0) throw Thrown{i};
}

double Seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

int main() {
  ZpInstallCrashHandler();
  pid_t mainThread = pid_t(syscall(SYS_gettid));
  std::atomic<bool> stop{false};
  std::thread storm([&] {
    while (!stop) {
      syscall(SYS_tgkill, getpid(), mainThread, SIGHUP);
      usleep(20);
    }
  });
  long thrown = 0;
  long caught = 0;
  for (double end = Seconds() + 1.5; (thrown & 1023) != 0 || Seconds() < end; ++thrown) {
    try {
      Thrower(int(thrown & 0x7fffffff));
    } catch (const Thrown& e) {
      caught += e.value >= 0;
    }
  }
  stop = true;
  storm.join();
  if (caught == thrown) std::fputs("all caught\n", stderr);
  return 0;
}
