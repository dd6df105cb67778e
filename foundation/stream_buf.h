// Append-only byte buffers held as a list of separately allocated chunks, so
// that appending never moves bytes already written; and the same shared
// between one writing and one reading thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mutex.h"

class ZpStreamBuf {
 public:
  struct Chunk {
    uint64_t size;  // bytes allocated; 0 once released
    char* data;     // null once released
  };

  // Reads a buffer from the start without consuming it. The buffer must
  // outlive the cursor; no lock is taken.
  struct Cursor {
    explicit Cursor(ZpStreamBuf* buffer) : chunk(0), offset(0), buffer(buffer) {}

    // Copies up to n bytes from the cursor on and advances it; the count
    // copied, 0 at the end. Never yields the unwritten tail of the last chunk.
    size_t Read(void* dst, size_t n);
    // Write the buffer's bytes from the cursor on (at most its unread count)
    // to a descriptor, or append them to `target`, advancing the cursor.
    void WriteToFile(int fd);
    void WriteTo(ZpStreamBuf* target);

    uint32_t chunk;
    uint64_t offset;
    ZpStreamBuf* buffer;

   private:
    template <typename Sink>
    void Drain(Sink sink);
    uint64_t Available() const;
    bool AtEnd() const;
    void Advance(uint64_t k);
  };

  ZpStreamBuf() = default;
  virtual ~ZpStreamBuf();
  ZpStreamBuf(const ZpStreamBuf&) = delete;
  ZpStreamBuf& operator=(const ZpStreamBuf&) = delete;

  // Appends the bytes; chunks grow from 1 KiB by doubling up to 1 MiB.
  virtual void Write(const void* data, size_t length);
  // Trims the last chunk to its used length.
  void ShrinkToFit();

  static constexpr uint64_t kFirstChunkSize = 1024;
  static constexpr uint64_t kMaxChunkSize = 1048576;
  static constexpr uint32_t kInlineChunkCount = 4;

  Chunk inlineChunks[kInlineChunkCount] = {};
  Chunk* chunks = inlineChunks;
  uint32_t chunkCount = 0;
  uint32_t chunkCapacity = kInlineChunkCount;
  uint64_t unread = 0;    // written and not yet taken by ZpPipeBuf::Read
  uint64_t lastUsed = 0;  // bytes written into the last chunk

 protected:
  void AddChunk(uint64_t size);
};

// A ZpStreamBuf for one writing and one reading thread: writes, reads and the
// close are locked, a read blocks until data arrives or the pipe is closed,
// and the reader releases each chunk once consumed.
class ZpPipeBuf : public ZpStreamBuf {
 public:
  ZpPipeBuf() = default;
  ~ZpPipeBuf() override = default;

  // Locked append; wakes the reader when the buffer was empty.
  void Write(const void* data, size_t length) override;
  // Copies up to n bytes, waiting only while nothing is buffered. Returns
  // what it has as soon as the buffer runs dry; 0 once the pipe is closed and
  // everything has been read.
  size_t Read(void* dst, size_t n);
  // Marks the end of the data and wakes the reader. Later writes are still
  // delivered.
  void Close();

  ZpMutex mutex;
  ZpCondition condition;
  bool closed = false;
  uint32_t readChunk = 0;
  uint64_t readOffset = 0;

 private:
  void ReleaseReadChunk();
};
