#include "rib_scanner.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "inflate_ahead.h"
#include "path_strings.h"

namespace {

// A request name taken from the string table costs only its id, and its
// bytes may hold further definitions with such names, which then put back
// bytes again: unbounded, a few bytes of input could be scanned for ever
// (or 2^32 times within the nesting limit). Each byte the input delivers
// pays for this many bytes put back; names of request keywords need far
// fewer, and scanning stays linear in the input.
constexpr uint64_t kPushBackPerInputByte = 8;

uint32_t BigEndian32(const unsigned char* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

float FloatFromBigEndian(const unsigned char* b) {
  uint32_t bits = BigEndian32(b);
  float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}

double DoubleFromBigEndian(const unsigned char* b) {
  uint64_t bits = (uint64_t{BigEndian32(b)} << 32) | BigEndian32(b + 4);
  double d;
  memcpy(&d, &bits, sizeof d);
  return d;
}

uint32_t LittleEndian(const unsigned char* b, unsigned width) {
  uint32_t v = 0;
  for (unsigned i = width; i-- > 0;) v = (v << 8) | b[i];
  return v;
}

}  // namespace

RibScanner::RibScanner(RibSource* source, const char* streamName, RibCommentCallback commentCb,
                       RibErrorCallback errorCb, void* user)
    : yyRibFlexLexer(nullptr, nullptr),
      source_(source),
      streamName_(streamName),
      commentCallback_(commentCb),
      errorCallback_(errorCb),
      user_(user) {}

RibScanner::~RibScanner() {
  inflateAhead_.reset();  // its thread uses the decompressor
  delete[] inflateInput_;
  if (inflater_) {
    // Not through Warning: this message carries no location.
    if (inflateEnd(inflater_) != Z_OK) errorCallback_(user_, 1, "Error cleaning-up decompressor");
    delete inflater_;
  }
  delete source_;
}

int RibScanner::NextToken() {
  if (floatArrayPending_) {
    if (floatArrayCount_ == 0) {
      floatArrayPending_ = false;
      return RibToken::ArrayEnd;
    }
    --floatArrayCount_;
    unsigned char b[4];
    if (!ReadRaw(b, sizeof b)) return EndInsideArray();
    SetFloat(FloatFromBigEndian(b));
    return RibToken::Float;
  }
  if (doubleArrayPending_) {
    if (doubleArrayCount_ == 0) {
      doubleArrayPending_ = false;
      return RibToken::ArrayEnd;
    }
    --doubleArrayCount_;
    unsigned char b[8];
    if (!ReadRaw(b, sizeof b)) return EndInsideArray();
    SetFloat(DoubleFromBigEndian(b));
    return RibToken::Float;
  }
  if (intArrayPending_) {
    if (intArrayCount_ == 0) {
      intArrayPending_ = false;
      return RibToken::ArrayEnd;
    }
    --intArrayCount_;
    unsigned char b[4];
    if (!ReadRaw(b, intArrayWidth_)) return EndInsideArray();
    intValue_ = static_cast<int32_t>(LittleEndian(b, intArrayWidth_));
    return RibToken::Integer;
  }
  int token = ScanFast();
  return token >= 0 ? token : yylex();
}

// The input ended inside a binary array: drop the rest of it, so that a
// client that goes on gets the end token instead of one 0 per element
// still counted (up to 2^32 - 1 of them).
int RibScanner::EndInsideArray() {
  ClearPendingArrays();
  return RibToken::End;
}

void RibScanner::ClearPendingArrays() {
  floatArrayPending_ = doubleArrayPending_ = intArrayPending_ = false;
  floatArrayCount_ = doubleArrayCount_ = intArrayCount_ = 0;
}

// A token that a recovery or a definition drops takes its binary array
// with it. False when the input ended inside the array.
bool RibScanner::DropToken(int token) {
  if (token != RibToken::ArrayBegin) return true;
  uint64_t bytes = uint64_t{floatArrayCount_} * 4 + uint64_t{doubleArrayCount_} * 8 +
                   uint64_t{intArrayCount_} * intArrayWidth_;
  bool wasPending = floatArrayPending_ || doubleArrayPending_ || intArrayPending_;
  ClearPendingArrays();
  return !wasPending || SkipInput(bytes);
}

bool RibScanner::SkipInput(uint64_t n) {
  char scratch[4096];
  while (n > 0) {
    size_t k = n < sizeof scratch ? static_cast<size_t>(n) : sizeof scratch;
    if (!ReadRaw(scratch, k)) return false;
    n -= k;
  }
  return true;
}

void RibScanner::ExpandStreamDir() {
  static const size_t kPrefix = 9;
  if (storedValue_) {  // the table's copy stays as it is
    stringValue_ = *storedValue_;
    storedValue_.reset();
  }
  if (stringValue_.size() < kPrefix) return;
  if (stringValue_.compare(0, kPrefix, "${RIBDIR}") != 0 &&
      stringValue_.compare(0, kPrefix, "${VRXDIR}") != 0)
    return;
  stringValue_.replace(0, kPrefix, ZpDirName(streamName_));
}

int RibScanner::ReadRequestName() {
  int token = yylex();
  if (token != RibToken::String) {
    Error("Syntax error, ASCII string expected to encode RI request");
    return DropToken(token) ? -1 : RibToken::End;
  }
  // A name past the budget is refused like one that is no string.
  const std::string& name = stringValue();
  size_t size = name.size();
  if (pushedBackBytes_ + size > kPushBackPerInputByte * inputBytes_) {
    Error("Syntax error, ASCII string expected to encode RI request");
    return -1;
  }
  pushedBackBytes_ += size;
  // Scanned again as input: the first token of the bytes is the result, the
  // rest of them follow as ordinary input.
  PushBack(name.data(), size);
  return yylex();
}

int RibScanner::ReadByte() {
  unsigned char c;
  return ReadRaw(&c, 1) ? c : -1;
}

// Reads width (1 to 4) bytes, most significant first; false when the input
// ends first, so no value built from missing bytes is ever acted on.
bool RibScanner::ReadBigEndian(unsigned width, uint32_t* value) {
  unsigned char b[4];
  if (!ReadRaw(b, width)) return false;
  uint32_t v = 0;
  for (unsigned i = 0; i < width; ++i) v = (v << 8) | b[i];
  *value = v;
  return true;
}

int32_t RibScanner::ReadUnsignedBE(unsigned n) {
  if (n < 1) return 0;
  if (n > 4) n = 4;
  uint32_t v = 0;
  for (unsigned i = 0; i < n; ++i) {
    int c = ReadByte();
    v = (v << 8) | static_cast<uint32_t>(c < 0 ? 0xFF : c);
  }
  return static_cast<int32_t>(v);
}

int32_t RibScanner::ReadSignedBE(unsigned n) {
  if (n < 1) return 0;
  if (n > 4) n = 4;
  uint32_t v = static_cast<uint32_t>(ReadUnsignedBE(n));
  unsigned bits = 8 * n;
  if (bits < 32 && (v & (1u << (bits - 1)))) v |= ~0u << bits;
  return static_cast<int32_t>(v);
}

bool RibScanner::GetFloatArrayLength(size_t* n) const {
  if (!floatArrayPending_) return false;
  *n = floatArrayCount_;
  return true;
}

bool RibScanner::GetDoubleArrayLength(size_t* n) const {
  if (!doubleArrayPending_) return false;
  *n = doubleArrayCount_;
  return true;
}

bool RibScanner::GetIntArrayLength(size_t* n) const {
  if (!intArrayPending_) return false;
  *n = intArrayCount_;
  return true;
}

bool RibScanner::ReadFloatArray(float* dst) {
  if (!floatArrayPending_) return false;
  uint32_t count = floatArrayCount_;
  ClearPendingArrays();
  if (!ReadRaw(dst, size_t{count} * 4)) return false;
  ZpSwapBytes32(reinterpret_cast<uint32_t*>(dst), count);
  return true;
}

bool RibScanner::ReadDoubleArray(double* dst) {
  if (!doubleArrayPending_) return false;
  uint32_t count = doubleArrayCount_;
  ClearPendingArrays();
  if (!ReadRaw(dst, size_t{count} * 8)) return false;
  ZpSwapBytes64(reinterpret_cast<uint64_t*>(dst), count);
  return true;
}

bool RibScanner::ReadIntArray(uint32_t* dst) {
  if (!intArrayPending_) return false;
  size_t count = intArrayCount_;
  unsigned width = intArrayWidth_;
  ClearPendingArrays();
  // The packed elements go to the tail of dst and are widened in place,
  // first to last: element i is read before any write can reach it.
  unsigned char* bytes = reinterpret_cast<unsigned char*>(dst);
  size_t tail = count * (4 - width);
  if (!ReadRaw(bytes + tail, count * width)) return false;
  for (size_t i = 0; i < count; ++i) dst[i] = LittleEndian(bytes + tail + i * width, width);
  return true;
}

int RibScanner::ReadIntArrayElement() {
  if (!intArrayPending_) return RibToken::End;
  unsigned char b[4];
  if (!ReadRaw(b, intArrayWidth_)) return RibToken::End;
  intValue_ = static_cast<int32_t>(LittleEndian(b, intArrayWidth_));
  return RibToken::Integer;
}
