// A growable, always NUL-terminated text buffer meant for the stack: the first
// 1024 bytes live inside the object, the heap is used only beyond them.
#pragma once

#include <cstdarg>
#include <cstdint>

class ZpFormatBuffer {
 public:
  static constexpr uint32_t kInlineCapacity = 1024;

  ZpFormatBuffer() { inline_[0] = '\0'; }
  ~ZpFormatBuffer();
  ZpFormatBuffer(const ZpFormatBuffer&) = delete;
  ZpFormatBuffer& operator=(const ZpFormatBuffer&) = delete;

  // The text, always NUL-terminated.
  const char* Text() const { return heap_ ? heap_ : inline_; }
  uint32_t Length() const { return length_; }
  // Bytes of the current storage, the terminating NUL included.
  uint32_t Capacity() const { return capacity_; }

  // Appends `bytes` up to its first NUL but at most `n` of them; room for `n`
  // is reserved even when the string is shorter. Returns the new length
  // (unchanged when the room cannot be had).
  int AppendN(const char* bytes, uint32_t n);
  void Append(const char* text);
  int AppendChar(char c);

  // Sets the storage to exactly `capacity` bytes; a size that would not hold
  // the text and its NUL is raised to length + 1 so nothing is lost.
  void Reserve(uint32_t capacity);

  // Replace the text with formatted text; return the characters written,
  // or -1 when the text cannot be formatted or would not fit 32 bits.
  int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int VPrintf(const char* format, va_list args);

  // Append formatted text; return the characters appended, or -1 as above
  // (the text is then left as it was).
  int Appendf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int VAppendf(const char* format, va_list args);

 private:
  bool Grow(uint64_t size);
  bool Fits(uint64_t extra) const { return length_ + extra + 1 <= UINT32_MAX; }
  char* Storage() { return heap_ ? heap_ : inline_; }

  char inline_[kInlineCapacity];
  char* heap_ = nullptr;
  uint32_t capacity_ = kInlineCapacity;
  uint32_t length_ = 0;
};
