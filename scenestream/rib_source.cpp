#include "rib_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

RibFromFile::RibFromFile(const char* path) : RibFromFD(-1) {
  if (ZpIsDirectory(path)) return;
  // Close-on-exec set atomically, so a program started by another thread
  // meanwhile cannot inherit the descriptor either.
  fd = open(path, O_RDONLY | O_CLOEXEC);
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
