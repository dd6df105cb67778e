// libFuzzer target: arbitrary bytes through a scanner must end in the end
// token, within a bounded number of tokens, without touching memory that is
// not theirs (the sanitizers watch that).
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "rib_scanner.h"

namespace {

void IgnoreMessage(void*, int, const char*) {}

void IgnoreComment(const char*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  (void)va_arg(args, const char*);
  va_end(args);
}

// Exercises the bulk reads on arrays that the input can actually fill, as a
// client would after checking the length.
void ReadArrayInBulk(RibScanner& scanner, size_t inputSize) {
  size_t n = 0;
  if (scanner.GetFloatArrayLength(&n) && n <= inputSize) {
    float* values = new float[n + 1];
    scanner.ReadFloatArray(values);
    delete[] values;
  } else if (scanner.GetIntArrayLength(&n) && n <= inputSize) {
    uint32_t* values = new uint32_t[n + 1];
    scanner.ReadIntArray(values);
    delete[] values;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks how the client reads; the rest is the stream.
  if (size == 0) return 0;
  bool bulk = data[0] & 1;
  bool comments = data[0] & 2;
  RibScanner scanner(new RibFromBuffer(reinterpret_cast<const char*>(data + 1), size - 1), "/fuzz/in.rib",
                     comments ? IgnoreComment : nullptr, IgnoreMessage, nullptr);
  // Every token but an empty array's brackets takes at least one byte of
  // the stream, which gzip can expand about 1032 times, and request names
  // put back into it at most 8 bytes per byte it delivered.
  size_t limit = 2 * 9 * 1032 * size + 4;
  for (size_t tokens = 0;; ++tokens) {
    if (tokens > limit) abort();
    int token = scanner.NextToken();
    if (token == RibToken::End) break;
    if (token == RibToken::ArrayBegin && bulk) ReadArrayInBulk(scanner, size);
  }
  return 0;
}
