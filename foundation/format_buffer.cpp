#include "format_buffer.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// vsnprintf failures (bad wide characters, results beyond INT_MAX) do not go
// away with more room; a few doublings cover any transient case.
constexpr int kMaxFailedAttempts = 4;
// Exact growth makes the second attempt fit; the bound only guarantees an end.
constexpr int kMaxRetries = 8;

const char* FirstString(va_list args) {
  va_list copy;
  va_copy(copy, args);
  const char* text = va_arg(copy, const char*);
  va_end(copy);
  return text;
}

}  // namespace

ZpFormatBuffer::~ZpFormatBuffer() { free(heap_); }

// Grows (or resizes) the storage to exactly `size` bytes. False, with the
// buffer untouched, when the size does not fit 32 bits or memory runs out.
bool ZpFormatBuffer::Grow(uint64_t size) {
  if (size > UINT32_MAX || size == 0) return false;
  if (heap_) {
    char* resized = static_cast<char*>(realloc(heap_, size));
    if (!resized) return false;
    heap_ = resized;
  } else {
    char* block = static_cast<char*>(malloc(size));
    if (!block) return false;
    memcpy(block, inline_, length_ + 1);
    heap_ = block;
  }
  capacity_ = static_cast<uint32_t>(size);
  return true;
}

int ZpFormatBuffer::AppendN(const char* bytes, uint32_t n) {
  uint64_t needed = uint64_t{length_} + n + 1;
  if (needed > capacity_ && !Grow(needed)) return static_cast<int>(length_);
  uint32_t count = static_cast<uint32_t>(strnlen(bytes, n));
  char* text = Storage();
  memcpy(text + length_, bytes, count);
  length_ += count;
  text[length_] = '\0';
  return static_cast<int>(length_);
}

void ZpFormatBuffer::Append(const char* text) {
  size_t count = strlen(text);
  if (count > UINT32_MAX) return;
  AppendN(text, static_cast<uint32_t>(count));
}

int ZpFormatBuffer::AppendChar(char c) {
  uint64_t needed = uint64_t{length_} + 2;
  if (needed > capacity_ && !Grow(needed)) return static_cast<int>(length_);
  char* text = Storage();
  text[length_++] = c;
  text[length_] = '\0';
  return static_cast<int>(length_);
}

void ZpFormatBuffer::Reserve(uint32_t capacity) {
  uint64_t atLeast = uint64_t{length_} + 1;
  Grow(capacity < atLeast ? atLeast : capacity);
}

int ZpFormatBuffer::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = VPrintf(format, args);
  va_end(args);
  return result;
}

int ZpFormatBuffer::VPrintf(const char* format, va_list args) {
  length_ = 0;
  Storage()[0] = '\0';
  return VAppendf(format, args);
}

int ZpFormatBuffer::Appendf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = VAppendf(format, args);
  va_end(args);
  return result;
}

int ZpFormatBuffer::VAppendf(const char* format, va_list args) {
  auto attempt = [&]() {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(Storage() + length_, capacity_ - length_, format, copy);
    va_end(copy);
    return n;
  };
  auto fits = [&](int n) { return n >= 0 && static_cast<uint32_t>(n) < capacity_ - length_; };

  int n = attempt();
  const char* text = !fits(n) && strcmp(format, "%s") == 0 ? FirstString(args) : nullptr;
  if (text != nullptr) {
    // The commonest format: copy the string instead of formatting it again.
    // A null argument takes the general path, which prints what vsnprintf does.
    size_t count = strlen(text);
    uint64_t needed = uint64_t{length_} + count + 1;
    if (count > INT_MAX || (needed > capacity_ && !Grow(needed))) {
      Storage()[length_] = '\0';
      return -1;
    }
    memcpy(Storage() + length_, text, count + 1);
    length_ += static_cast<uint32_t>(count);
    return static_cast<int>(count);
  }
  int failures = 0;
  for (int retries = 1; !fits(n); ++retries) {
    bool grown;
    if (retries > kMaxRetries) {
      grown = false;
    } else if (n < 0) {
      grown = ++failures <= kMaxFailedAttempts && Grow(uint64_t{capacity_} * 2);
    } else {
      grown = Fits(static_cast<uint32_t>(n)) && Grow(uint64_t{length_} + n + 1);
    }
    if (!grown) {
      Storage()[length_] = '\0';  // drop whatever the failed attempt left
      return -1;
    }
    n = attempt();
  }
  length_ += static_cast<uint32_t>(n);
  return n;
}
