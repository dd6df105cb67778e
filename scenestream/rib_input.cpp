// The scanner's input: the source's bytes, or their gzip decompression when
// the stream starts with the gzip magic. Errors end the input cleanly.
#include <zlib.h>

#include <cstring>

#include "rib_scanner.h"

namespace {
constexpr int kCompressedChunk = 16384;
constexpr unsigned char kGzipMagic0 = 0x1F;
constexpr unsigned char kGzipMagic1 = 0x8B;
}  // namespace

int RibScanner::LexerInput(char* buf, int maxSize) {
  if (inputSniffed_) return inflater_ ? InflateInto(buf, maxSize) : ReadSource(buf, maxSize);
  inputSniffed_ = true;
  unsigned char head[2];
  int n = source_->Read(head, 2);
  if (n < 0) {
    Error("Error reading VRX stream");
    return 0;
  }
  if (n == 0) return 0;
  if (n == 1) {
    if (source_->Read(head + 1, 1) <= 0) {
      buf[0] = static_cast<char>(head[0]);
      return 1;
    }
  }
  if (head[0] != kGzipMagic0 || head[1] != kGzipMagic1) {
    memcpy(buf, head, 2);
    return 2;
  }
  inflateInput_ = new unsigned char[kCompressedChunk];
  inflater_ = new z_stream();
  inflateInit2(inflater_, 31);  // gzip wrapper only
  memcpy(inflateInput_, head, 2);
  inflater_->next_in = inflateInput_;
  inflater_->avail_in = 2;
  return InflateInto(buf, maxSize);
}

int RibScanner::ReadSource(char* buf, int maxSize) {
  int n = source_->Read(buf, maxSize);
  if (n >= 0) return n;
  Error("Error reading VRX stream");
  return 0;
}

// Decompresses straight into the scanner's buffer.
int RibScanner::InflateInto(char* buf, int maxSize) {
  if (inputFailed_) {
    Error("Invalid gzip data in VRX stream");
    return 0;
  }
  while (!inputFinished_) {
    if (inflater_->avail_in == 0) {
      int n = source_->Read(inflateInput_, kCompressedChunk);
      if (n < 0) {
        Error("Error reading VRX stream");
        return 0;
      }
      inflater_->next_in = inflateInput_;
      inflater_->avail_in = static_cast<unsigned>(n);
    }
    inflater_->next_out = reinterpret_cast<unsigned char*>(buf);
    inflater_->avail_out = static_cast<unsigned>(maxSize);
    int result = inflate(inflater_, Z_SYNC_FLUSH);
    int produced = maxSize - static_cast<int>(inflater_->avail_out);
    if (result == Z_STREAM_END) {
      if (!StartNextMember()) inputFinished_ = true;
      if (produced > 0) return produced;
      continue;
    }
    if (result != Z_OK) {
      // Corrupt, or the source ended before the gzip stream did.
      inputFailed_ = true;
      Error("Invalid gzip data in VRX stream");
      return 0;
    }
    if (produced > 0) return produced;
    // Input went into headers only: go on with the rest of it.
  }
  return 0;
}

// A gzip member has ended. Concatenated members are one valid gzip stream
// (cat a.gz b.gz), so when the magic follows, the decompressor starts over;
// any other bytes after the last member are ignored.
bool RibScanner::StartNextMember() {
  while (inflater_->avail_in < 2) {
    if (inflater_->avail_in == 1) inflateInput_[0] = *inflater_->next_in;
    inflater_->next_in = inflateInput_;
    int n = source_->Read(inflateInput_ + inflater_->avail_in, kCompressedChunk - static_cast<int>(inflater_->avail_in));
    if (n < 0) Error("Error reading VRX stream");
    if (n <= 0) return false;
    inflater_->avail_in += static_cast<unsigned>(n);
  }
  if (inflater_->next_in[0] != kGzipMagic0 || inflater_->next_in[1] != kGzipMagic1) return false;
  inflateReset(inflater_);
  return true;
}
