#include "stream_buf.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "checked_alloc.h"
#include "signal_safe_text.h"

ZpStreamBuf::~ZpStreamBuf() {
  for (uint32_t i = 0; i < chunkCount; ++i) free(chunks[i].data);
  if (chunks != inlineChunks) free(chunks);
}

void ZpStreamBuf::AddChunk(uint64_t size) {
  if (chunkCount == chunkCapacity) {
    uint32_t capacity = 2 * chunkCount + 1;
    Chunk* grown = static_cast<Chunk*>(ZpCheckedMalloc(capacity * sizeof(Chunk)));
    memcpy(grown, chunks, chunkCount * sizeof(Chunk));
    if (chunks != inlineChunks) free(chunks);
    chunks = grown;
    chunkCapacity = capacity;
  }
  chunks[chunkCount].size = size;
  chunks[chunkCount].data = static_cast<char*>(ZpCheckedMalloc(size));
  ++chunkCount;
  lastUsed = 0;
}

void ZpStreamBuf::Write(const void* data, size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    if (chunkCount == 0) {
      AddChunk(kFirstChunkSize);
    } else if (lastUsed == chunks[chunkCount - 1].size) {
      AddChunk(std::min(2 * chunks[chunkCount - 1].size, kMaxChunkSize));
    }
    Chunk& last = chunks[chunkCount - 1];
    uint64_t k = std::min<uint64_t>(length, last.size - lastUsed);
    memcpy(last.data + lastUsed, bytes, k);
    lastUsed += k;
    unread += k;
    bytes += k;
    length -= k;
  }
}

void ZpStreamBuf::ShrinkToFit() {
  if (chunkCount == 0 || lastUsed == 0) return;
  Chunk& last = chunks[chunkCount - 1];
  if (last.size == lastUsed) return;
  if (char* trimmed = static_cast<char*>(realloc(last.data, lastUsed))) {
    last.data = trimmed;
    last.size = lastUsed;
  }
}

// Bytes readable at the cursor in its chunk: the last chunk only up to its
// written length, so no reader ever sees its unwritten tail.
uint64_t ZpStreamBuf::Cursor::Available() const {
  const Chunk& current = buffer->chunks[chunk];
  bool isLast = chunk + 1 == buffer->chunkCount;
  return (isLast ? buffer->lastUsed : current.size) - offset;
}

bool ZpStreamBuf::Cursor::AtEnd() const {
  return chunk >= buffer->chunkCount || (chunk + 1 == buffer->chunkCount && Available() == 0);
}

void ZpStreamBuf::Cursor::Advance(uint64_t k) {
  offset += k;
  if (offset == buffer->chunks[chunk].size) {
    ++chunk;
    offset = 0;
  }
}

size_t ZpStreamBuf::Cursor::Read(void* dst, size_t n) {
  char* out = static_cast<char*>(dst);
  size_t copied = 0;
  while (n > copied && !AtEnd()) {
    uint64_t k = std::min<uint64_t>(n - copied, Available());
    if (k > 0) memcpy(out + copied, buffer->chunks[chunk].data + offset, k);
    copied += k;
    Advance(k);
  }
  return copied;
}

template <typename Sink>
void ZpStreamBuf::Cursor::Drain(Sink sink) {
  uint64_t remaining = buffer->unread;
  while (remaining > 0 && !AtEnd()) {
    uint64_t k = std::min(remaining, Available());
    if (k > 0) sink(buffer->chunks[chunk].data + offset, k);
    remaining -= k;
    Advance(k);
  }
}

void ZpStreamBuf::Cursor::WriteToFile(int fd) {
  // A descriptor that takes part of a piece gets the rest; one that fails
  // is not retried, and the cursor moves on either way.
  Drain([fd](const char* bytes, uint64_t length) { ZpWriteAll(fd, bytes, size_t(length)); });
}

void ZpStreamBuf::Cursor::WriteTo(ZpStreamBuf* target) {
  Drain([target](const char* bytes, uint64_t length) { target->Write(bytes, length); });
}

void ZpPipeBuf::Write(const void* data, size_t length) {
  mutex.Lock();
  bool wasEmpty = unread == 0;
  ZpStreamBuf::Write(data, length);
  mutex.Unlock();
  if (wasEmpty) condition.Signal();
}

void ZpPipeBuf::Close() {
  mutex.Lock();
  closed = true;
  mutex.Unlock();
  condition.Signal();
}

// Frees the consumed chunk and, once more than half of the descriptors in use
// are consumed, moves the rest to the front.
void ZpPipeBuf::ReleaseReadChunk() {
  free(chunks[readChunk].data);
  chunks[readChunk] = Chunk{0, nullptr};
  ++readChunk;
  readOffset = 0;
  if (2 * readChunk > chunkCount) {
    memmove(chunks, chunks + readChunk, (chunkCount - readChunk) * sizeof(Chunk));
    chunkCount -= readChunk;
    readChunk = 0;
  }
}

size_t ZpPipeBuf::Read(void* dst, size_t n) {
  if (n == 0) return 0;
  char* out = static_cast<char*>(dst);
  size_t copied = 0;
  ZpMutexLock hold(mutex);
  for (;;) {
    while (unread == 0) {
      if (copied > 0 || closed) return copied;
      condition.Wait(mutex);
    }
    Chunk& current = chunks[readChunk];
    uint64_t k = std::min({uint64_t(n - copied), current.size - readOffset, unread});
    memcpy(out + copied, current.data + readOffset, k);
    readOffset += k;
    unread -= k;
    if (readOffset == current.size) ReleaseReadChunk();
    copied += k;
    if (copied == n) return copied;
  }
}
