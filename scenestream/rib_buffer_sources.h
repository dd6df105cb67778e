#ifndef SCENESTREAM_RIB_BUFFER_SOURCES_H
#define SCENESTREAM_RIB_BUFFER_SOURCES_H

#include "rib_source.h"
#include "stream_buf.h"

// Reads a stream buffer filled beforehand, from its start; the buffer stays
// the creator's and must outlive the source. Never fails.
class RibFromStreamBuf : public RibSource {
 public:
  explicit RibFromStreamBuf(ZpStreamBuf* buffer) : cursor(buffer) {}
  int Read(void* buf, int maxBytes) override;

 private:
  ZpStreamBuf::Cursor cursor;
};

// Reads a pipe buffer that another thread fills: blocks while the pipe is
// empty and open, ends once it is closed and drained. The pipe stays the
// creator's.
class RibFromPipeBuf : public RibSource {
 public:
  explicit RibFromPipeBuf(ZpPipeBuf* pipe) : pipe(pipe) {}
  int Read(void* buf, int maxBytes) override;

 private:
  ZpPipeBuf* pipe;
};

#endif
