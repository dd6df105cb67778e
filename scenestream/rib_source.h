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
  // True when the descriptor is a regular file (not a pipe or a terminal),
  // whose reads give what is there without waiting for a writer.
  bool ReadsRegularFile() const;
  // The size of the regular file behind the descriptor, or -1 for anything
  // else.
  long long RegularFileSize() const;

 protected:
  int fd;

 private:
  bool atEnd = false;
};

// Opens a path read-only with close-on-exec and owns the descriptor.
// A directory is not opened; a failed open keeps errno for the caller.
//
// The open itself never waits: a FIFO without a writer would block it. A
// FIFO is then opened again, waiting for its writer as a reader of a pipe
// expects; anything else is read as it is. With regularOnly, anything but a
// regular file is refused (IsRegular false), and so is a file that only
// looks like one but has nothing to read yet (/proc/kmsg, say); such a
// file's reads never wait either, so that one cut short ends in a read
// error instead of a hang.
class RibFromFile : public RibFromFD {
 public:
  explicit RibFromFile(const char* path, bool regularOnly = false);
  ~RibFromFile() override;
  // False for a directory, a refused file or a failed open; Read must not
  // be used then.
  bool IsOpen() const { return fd >= 0; }
  // False when regularOnly refused the file (the file exists and opens).
  bool IsRegular() const { return regular; }

 private:
  bool regular = true;
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
