#include "rib_buffer_sources.h"

int RibFromStreamBuf::Read(void* buf, int maxBytes) {
  if (maxBytes <= 0) return 0;
  return static_cast<int>(cursor.Read(buf, static_cast<size_t>(maxBytes)));
}

int RibFromPipeBuf::Read(void* buf, int maxBytes) {
  if (maxBytes <= 0) return 0;
  return static_cast<int>(pipe->Read(buf, static_cast<size_t>(maxBytes)));
}
