#include "rib_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "../foundation/test_support.h"
#include "scan_test_support.h"

TEST(RibSourceTest, BufferDeliversInPiecesThenZeroForGood) {
  RibFromBuffer source("abcde", 5);
  char buf[4];
  EXPECT_EQ(source.Read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(source.Read(buf, 4), 1);
  EXPECT_EQ(buf[0], 'e');
  EXPECT_EQ(source.Read(buf, 4), 0);
  EXPECT_EQ(source.Read(buf, 4), 0);
  RibFromBuffer null(nullptr, 10);
  EXPECT_EQ(null.Read(buf, 4), 0);
}

// Shows the descriptor a file source holds.
class PeekedFile : public RibFromFile {
 public:
  using RibFromFile::RibFromFile;
  int Descriptor() const { return fd; }
};

TEST(RibSourceTest, FileIsReadCloseOnExecAndClosedWithItsScanner) {
  ZpTestDir dir;
  auto* file = new PeekedFile(dir.WriteFile("a.rib", "Sphere 1").c_str());
  ASSERT_TRUE(file->IsOpen());
  int fd = file->Descriptor();
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_EQ(ScanSource(file), (std::vector<std::string>{"340", "i:1"}));
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST(RibSourceTest, DirectoryAndMissingPathAreNotOpen) {
  ZpTestDir dir;
  RibFromFile directory(dir.Path().c_str());
  EXPECT_FALSE(directory.IsOpen());
  errno = 0;
  RibFromFile missing((dir / "none.rib").c_str());
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(errno, ENOENT);
}

TEST(RibSourceTest, DescriptorSourceLeavesTheDescriptorOpen) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "Cone", 4), 4);
  close(fds[1]);
  EXPECT_EQ(ScanSource(new RibFromFD(fds[0])), (std::vector<std::string>{"272"}));
  EXPECT_NE(fcntl(fds[0], F_GETFD), -1);
  close(fds[0]);
}

namespace {

std::atomic<int> signalsTaken{0};
void CountSignal(int) { ++signalsTaken; }

// True once the thread sleeps in the kernel (here: blocked in read).
bool IsSleeping(long tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t end = text.rfind(')');
  return end != std::string::npos && text.compare(end + 2, 1, "S") == 0;
}

}  // namespace

TEST(RibSourceTest, ReadInterruptedByAContinuedSignalGoesOn) {
  signalsTaken = 0;
  // Installed like the crash handler's SIGHUP report: without SA_RESTART.
  struct sigaction action = {}, previous = {};
  action.sa_handler = CountSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  long readerTid = syscall(SYS_gettid);
  pthread_t reader = pthread_self();
  std::thread writer([&] {
    for (int i = 0; i < 3000 && !IsSleeping(readerTid); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pthread_kill(reader, SIGUSR2);
    while (signalsTaken == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(write(fds[1], "Cone", 4), 4);
    close(fds[1]);
  });
  RibFromFD source(fds[0]);
  char buf[8];
  EXPECT_EQ(source.Read(buf, sizeof buf), 4);
  writer.join();
  EXPECT_EQ(std::string(buf, 4), "Cone");
  EXPECT_EQ(signalsTaken, 1);
  close(fds[0]);
  sigaction(SIGUSR2, &previous, nullptr);
}

TEST(RibSourceTest, EndOfInputFromATerminalIsTheEnd) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int terminal = open(ptsname(master), O_RDONLY | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  // A line, the end-of-input character, and a line typed after it.
  ASSERT_EQ(write(master, "Cone\n\x04" "Disk\n", 11), 11);
  RibFromFD source(terminal);
  char buf[16];
  EXPECT_EQ(source.Read(buf, sizeof buf), 5);
  EXPECT_EQ(source.Read(buf, sizeof buf), 0);
  EXPECT_EQ(source.Read(buf, sizeof buf), 0);
  close(terminal);
  close(master);
}

// No open waits: a FIFO without a writer is refused at once where only
// regular files are wanted, and otherwise opened again to wait for its
// writer, whose bytes are then read as from any pipe.
TEST(RibSourceTest, FifosAreOpenedWithoutWaitingForAWriter) {
  ZpTestDir dir;
  std::string fifo = dir / "pipe.rib";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RibFromFile refused(fifo.c_str(), true);
  EXPECT_FALSE(refused.IsOpen());
  EXPECT_FALSE(refused.IsRegular());
  RibFromFile device("/dev/zero", true);
  EXPECT_FALSE(device.IsRegular());

  std::thread writer([&] {
    usleep(100 * 1000);  // the reader waits for this writer
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, "abc", 3), 3);
    close(fd);
  });
  RibFromFile waiting(fifo.c_str());
  ASSERT_TRUE(waiting.IsOpen());
  char buffer[8];
  EXPECT_EQ(waiting.Read(buffer, sizeof buffer), 3);
  EXPECT_EQ(waiting.Read(buffer, sizeof buffer), 0);
  writer.join();

  std::string plain = dir.WriteFile("plain.rib", "Begin");
  RibFromFile regular(plain.c_str(), true);
  ASSERT_TRUE(regular.IsOpen());
  EXPECT_EQ(regular.Read(buffer, sizeof buffer), 5);
}
