// Text built inside a signal handler: the signal may have stopped the
// program inside malloc or inside a stdio call, so nothing here allocates,
// takes a lock, reads the locale or touches a FILE. The figures are written
// as printf writes them in the "C" locale.
#pragma once

#include <cstddef>
#include <cstdint>

class ZpSignalSafeText {
 public:
  static constexpr size_t kCapacity = 256;

  // Text longer than limit bytes (at most kCapacity - 1) is cut there.
  explicit ZpSignalSafeText(size_t limit = kCapacity - 1);

  ZpSignalSafeText& Add(const char* text);
  ZpSignalSafeText& AddChar(char c);
  // As "%llu" and "%lld".
  ZpSignalSafeText& AddDecimal(uint64_t value);
  ZpSignalSafeText& AddSigned(int64_t value);
  // Lower-case hexadecimal, zero-filled to at least minDigits digits.
  ZpSignalSafeText& AddHex(uint64_t value, int minDigits = 1);
  // As "%p": "0x" and the digits, or "(nil)".
  ZpSignalSafeText& AddPointer(const void* pointer);
  // As "%g" of the float.
  ZpSignalSafeText& AddGeneral(float value);

  const char* Text() const { return text_; }
  size_t Length() const { return length_; }
  // The length the text would have without the cut.
  size_t WantedLength() const { return wanted_; }

  // Writes the text to the descriptor, going on after partial writes and
  // interruptions.
  void WriteTo(int fd) const;

 private:
  char text_[kCapacity];
  size_t limit_;
  size_t length_ = 0;
  size_t wanted_ = 0;
};

// Writes all of the bytes, going on after partial writes and interruptions.
void ZpWriteAll(int fd, const char* bytes, size_t length);

// The number at the start of text as "%d" reads it (blanks, a sign, then at
// least one digit); false when there is none.
bool ZpParseDecimal(const char* text, int* value);
