// The scanner's input: the source's bytes, or their gzip decompression when
// the stream starts with the gzip magic. Errors end the input cleanly.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "inflate_ahead.h"
#include "rib_scanner.h"

namespace {
constexpr int kCompressedChunk = 16384;
constexpr unsigned char kGzipMagic0 = 0x1F;
constexpr unsigned char kGzipMagic1 = 0x8B;
// The scanner's first buffer: a pending token longer than this has made the
// buffer grow.
constexpr size_t kLongToken = 16384;
constexpr int kSmallBuffer = 16384;
// At most this for a large regular file: room enough to make reads cheap,
// small enough to stay in the processor's cache.
constexpr long long kLargeFileBuffer = 256 << 10;
}  // namespace

int RibScanner::LexerInput(char* buf, int maxSize) {
  // The buffer's data changes: distances from its end mean nothing now.
  unclosedFromEnd_ = unclosedToEnd_ = 0;
  ++inputReads_;
  int n = ReadInput(buf, maxSize, BytesWanted(buf, maxSize));
  if (n > 0) inputBytes_ += static_cast<uint64_t>(n);
  return n;
}

// A regular file has all its bytes there to read: larger reads into a
// larger buffer cost fewer system calls and fewer checks of what the run
// knows of the disk (once per read). Small files, pipes and terminals keep
// the small buffer, so that thousands of small streams stay cheap and piped
// tokens come as they arrive.
int RibScanner::FirstBufferSize() const {
  auto* file = dynamic_cast<const RibFromFD*>(source_);
  long long size = file ? file->RegularFileSize() : -1;
  if (size <= kSmallBuffer) return kSmallBuffer;
  return static_cast<int>(std::min<long long>(size, kLargeFileBuffer));
}

// A refill returns after the first read that gives bytes, so a stream fed
// through a pipe or from a terminal yields its tokens as they arrive. A
// token longer than the first buffer is the exception: each refill moves its
// bytes to the front of the buffer and scans them again, so the refill
// gathers at least as many new bytes as the token holds, which keeps the
// token's cost linear in its length.
int RibScanner::BytesWanted(const char* buf, int maxSize) const {
  size_t pending = BufferOffset(buf);  // the unfinished token was moved there
  if (pending <= kLongToken) return 1;
  return pending < static_cast<size_t>(maxSize) ? static_cast<int>(pending) : maxSize;
}

int RibScanner::ReadInput(char* buf, int maxSize, int wanted) {
  if (inputSniffed_) {
    if (inflateAhead_) return TakeInflated(buf, maxSize, wanted);
    return inflater_ ? InflateInto(buf, maxSize, wanted) : ReadSource(buf, maxSize, wanted);
  }
  inputSniffed_ = true;
  unsigned char head[2];
  int n = source_->Read(head, 2);
  if (n < 0) {
    InputError("Error reading VRX stream");
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
    // Plain: the two bytes are its first input.
    memcpy(buf, head, 2);
    return 2;
  }
  inflateInput_ = new unsigned char[kCompressedChunk];
  inflater_ = new z_stream();
  inflateInit2(inflater_, 31);  // gzip wrapper only
  memcpy(inflateInput_, head, 2);
  inflater_->next_in = inflateInput_;
  inflater_->avail_in = 2;
  // A file is inflated ahead on a thread of its own. Not a pipe or a
  // terminal: their bytes are read as the scanner asks for them.
  auto* file = dynamic_cast<RibFromFD*>(source_);
  if (file && file->ReadsRegularFile()) {
    deferErrors_ = true;
    inflateAhead_ = RibInflateAhead::Start([this](char* block, int size) {
      return InflateInto(block, size, 1);
    });
    if (inflateAhead_) return TakeInflated(buf, maxSize, wanted);
    deferErrors_ = false;
  }
  return InflateInto(buf, maxSize, wanted);
}

// The bytes inflated ahead; once they are all taken, what ended the
// production is said, as InflateInto would have said it in this call, and
// later calls inflate here.
int RibScanner::TakeInflated(char* buf, int maxSize, int wanted) {
  int n = inflateAhead_->Take(buf, maxSize, wanted);
  if (n > 0) return n;
  inflateAhead_.reset();
  deferErrors_ = false;
  if (deferredError_) {
    const char* message = deferredError_;
    deferredError_ = nullptr;
    InputError(message);
  }
  return 0;
}

// Inflating ahead, the message waits until the scanner reaches the place
// where it belongs: a call that reports one returns 0 at once.
void RibScanner::InputError(const char* message) {
  if (deferErrors_) {
    deferredError_ = message;
  } else {
    Error("%s", message);
  }
}

// Reads until `wanted` bytes have come (or the end). A read error ends the
// input after the bytes that came before it.
int RibScanner::ReadSource(char* buf, int maxSize, int wanted) {
  if (EndAfterReadError()) return 0;
  int total = 0;
  do {
    int n = source_->Read(buf + total, maxSize - total);
    if (n < 0) return ReadFailed(total);
    if (n == 0) break;
    total += n;
  } while (total < wanted);
  return total;
}

// The bytes that came before the error are scanned first; the error is
// reported when they are used up, and ends the input.
int RibScanner::ReadFailed(int delivered) {
  if (delivered > 0)
    readErrorPending_ = true;
  else
    InputError("Error reading VRX stream");
  return delivered;
}

bool RibScanner::EndAfterReadError() {
  if (!readErrorPending_) return false;
  readErrorPending_ = false;
  InputError("Error reading VRX stream");
  return true;
}

// Decompresses straight into the scanner's buffer until `wanted` bytes have
// come. Where a gzip member ends after bytes were delivered, the look for a
// next member (which may wait for input) is left to the next call.
int RibScanner::InflateInto(char* buf, int maxSize, int wanted) {
  if (EndAfterReadError()) return 0;
  if (inputFailed_) {
    InputError("Invalid gzip data in VRX stream");
    return 0;
  }
  int total = 0;
  while (total < wanted && !inputFinished_) {
    if (memberEnded_) {
      memberEnded_ = false;
      if (!StartNextMember(total)) {
        inputFinished_ = true;
        break;
      }
    }
    if (inflater_->avail_in == 0) {
      int n = source_->Read(inflateInput_, kCompressedChunk);
      if (n < 0) return ReadFailed(total);
      // At the end of the source, deliver what came first; the next call
      // finds the gzip stream cut short.
      if (n == 0 && total > 0) break;
      inflater_->next_in = inflateInput_;
      inflater_->avail_in = static_cast<unsigned>(n);
    }
    inflater_->next_out = reinterpret_cast<unsigned char*>(buf + total);
    inflater_->avail_out = static_cast<unsigned>(maxSize - total);
    int result = inflate(inflater_, Z_SYNC_FLUSH);
    total = maxSize - static_cast<int>(inflater_->avail_out);
    if (result == Z_STREAM_END) {
      memberEnded_ = true;
    } else if (result != Z_OK) {
      // Corrupt, or the source ended before the gzip stream did.
      inputFailed_ = true;
      if (total > 0) break;
      InputError("Invalid gzip data in VRX stream");
      return 0;
    }
  }
  return total;
}

// A gzip member has ended. Concatenated members are one valid gzip stream
// (cat a.gz b.gz), so when the magic follows, the decompressor starts over;
// any other bytes after the last member are ignored. A read error here
// comes after the `delivered` bytes of this call.
bool RibScanner::StartNextMember(int delivered) {
  while (inflater_->avail_in < 2) {
    if (inflater_->avail_in == 1) inflateInput_[0] = *inflater_->next_in;
    inflater_->next_in = inflateInput_;
    int n = source_->Read(inflateInput_ + inflater_->avail_in, kCompressedChunk - static_cast<int>(inflater_->avail_in));
    if (n < 0) ReadFailed(delivered);
    if (n <= 0) return false;
    inflater_->avail_in += static_cast<unsigned>(n);
  }
  if (inflater_->next_in[0] != kGzipMagic0 || inflater_->next_in[1] != kGzipMagic1) return false;
  inflateReset(inflater_);
  return true;
}
