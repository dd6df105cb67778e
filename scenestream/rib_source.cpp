#include "rib_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "directories.h"

int RibFromFD::Read(void* buf, int maxBytes) {
  // The scanner may ask again after the end; on a terminal each read after
  // an end-of-input would wait for the user to type it once more.
  if (atEnd) return 0;
  // A signal that is reported and continued (SIGHUP) interrupts a blocking
  // read; giving up then would lose the rest of the stream.
  ssize_t n;
  do {
    n = read(fd, buf, static_cast<size_t>(maxBytes));
  } while (n < 0 && errno == EINTR);
  if (n == 0) atEnd = true;
  return static_cast<int>(n);
}

bool RibFromFD::ReadsRegularFile() const { return RegularFileSize() >= 0; }

long long RibFromFD::RegularFileSize() const {
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<long long>(info.st_size);
}

namespace {

// True when a read would deliver something (or the end) now.
bool ReadableNow(int fd) {
  pollfd request = {fd, POLLIN, 0};
  int n;
  do {
    n = poll(&request, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n == 1;
}

// The FIFO behind fd opened again, waiting for a writer; -1 on failure.
int ReopenWaiting(int fd, const char* path) {
  char self[64];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  int again = open(self, O_RDONLY | O_CLOEXEC);
  if (again < 0 && errno == ENOENT) again = open(path, O_RDONLY | O_CLOEXEC);
  return again;
}

}  // namespace

RibFromFile::RibFromFile(const char* path, bool regularOnly) : RibFromFD(-1) {
  if (ZpIsDirectory(path)) return;
  // Close-on-exec set atomically, so a program started by another thread
  // meanwhile cannot inherit the descriptor either.
  fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    int error = errno;
    close(fd);
    fd = -1;
    errno = error;
    return;
  }
  if (regularOnly) {
    // A regular file's reads do not wait whatever the flag says, so it
    // stays set.
    if (S_ISREG(info.st_mode) && ReadableNow(fd)) return;
    close(fd);
    fd = -1;
    regular = false;
    return;
  }
  if (S_ISFIFO(info.st_mode)) {
    int waiting = ReopenWaiting(fd, path);
    int error = errno;
    close(fd);
    fd = waiting;
    errno = error;
    return;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
}

RibFromFile::~RibFromFile() {
  if (fd >= 0) close(fd);
}

int RibFromBuffer::Read(void* buf, int maxBytes) {
  if (remaining == 0 || cursor == nullptr || maxBytes <= 0) return 0;
  size_t n = remaining < static_cast<size_t>(maxBytes) ? remaining : static_cast<size_t>(maxBytes);
  memcpy(buf, cursor, n);
  cursor += n;
  remaining -= n;
  return static_cast<int>(n);
}
