#ifndef SCENESTREAM_RIB_SOURCE_H
#define SCENESTREAM_RIB_SOURCE_H

#include <cstddef>

// Where a scanner's raw bytes come from. A scanner given a source owns it and
// deletes it through the virtual destructor.
class RibSource {
 public:
  virtual ~RibSource() {}
  // Places up to maxBytes bytes in buf. Returns the count (1 to maxBytes),
  // 0 at the end of the input, a negative number on a read error.
  virtual int Read(void* buf, int maxBytes) = 0;
};

// Reads an open descriptor from its current position. The descriptor stays
// the creator's: it is not closed (so descriptor 0 survives its scanner).
class RibFromFD : public RibSource {
 public:
  explicit RibFromFD(int fd) : fd(fd) {}
  // read(2), repeated when a signal interrupts it; its result unchanged
  // otherwise (-1 with errno on error). Once it has returned 0 it returns 0
  // without reading: a terminal's end of input is not asked for again.
  int Read(void* buf, int maxBytes) override;

 protected:
  int fd;

 private:
  bool atEnd = false;
};

// Opens a path read-only with close-on-exec and owns the descriptor.
// A directory is not opened; a failed open keeps errno for the caller.
class RibFromFile : public RibFromFD {
 public:
  explicit RibFromFile(const char* path);
  ~RibFromFile() override;
  // False for a directory or a failed open; Read must not be used then.
  bool IsOpen() const { return fd >= 0; }
};

// Reads a memory block that the creator keeps alive; never fails.
class RibFromBuffer : public RibSource {
 public:
  RibFromBuffer(const char* data, size_t size) : cursor(data), remaining(size) {}
  int Read(void* buf, int maxBytes) override;

 private:
  const char* cursor;
  size_t remaining;
};

#endif
