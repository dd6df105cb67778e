#include "signal_safe_text.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace {

// A float's exact value as decimal digits: its mantissa times a power of
// two is an integer times a power of ten, and that integer has at most 112
// digits. Held in limbs of nine digits, lowest first.
class ExactDecimal {
 public:
  explicit ExactDecimal(uint32_t value) {
    limbs_[0] = value % kBase;
    limbs_[1] = value / kBase;
    count_ = limbs_[1] ? 2 : 1;
  }

  void Multiply(uint32_t factor) {
    uint64_t carry = 0;
    for (int i = 0; i < count_; ++i) {
      uint64_t v = uint64_t{limbs_[i]} * factor + carry;
      limbs_[i] = uint32_t(v % kBase);
      carry = v / kBase;
    }
    while (carry && count_ < kMaxLimbs) {
      limbs_[count_++] = uint32_t(carry % kBase);
      carry /= kBase;
    }
  }

  // Times 2^n or 5^n, in steps whose product stays within 64 bits.
  void MultiplyByPowerOfTwo(int n) {
    for (; n >= 29; n -= 29) Multiply(1u << 29);
    if (n > 0) Multiply(1u << n);
  }
  void MultiplyByPowerOfFive(int n) {
    for (; n >= 13; n -= 13) Multiply(1220703125u);  // 5^13
    uint32_t factor = 1;
    for (; n > 0; --n) factor *= 5;
    Multiply(factor);
  }

  // The digits, most significant first, without leading zeros; their count.
  int Digits(char* out) const {
    int length = 0;
    char limb[9];
    for (int i = count_ - 1; i >= 0; --i) {
      uint32_t v = limbs_[i];
      for (int k = 8; k >= 0; --k, v /= 10) limb[k] = char('0' + v % 10);
      int start = 0;
      if (i == count_ - 1) {
        while (start < 8 && limb[start] == '0') ++start;
      }
      for (int k = start; k < 9; ++k) out[length++] = limb[k];
    }
    return length;
  }

  static constexpr int kMaxDigits = 16 * 9;

 private:
  static constexpr uint32_t kBase = 1000000000;
  static constexpr int kMaxLimbs = 16;
  uint32_t limbs_[kMaxLimbs] = {};
  int count_;
};

constexpr int kGeneralPrecision = 6;

// Rounds the exact digits to the precision, half to even as printf does;
// *exponent is the power of ten of the first digit and follows a carry.
void RoundToPrecision(const char* digits, int length, char* rounded, int* exponent) {
  for (int i = 0; i < kGeneralPrecision; ++i) rounded[i] = i < length ? digits[i] : '0';
  if (length <= kGeneralPrecision) return;
  char next = digits[kGeneralPrecision];
  bool up = next > '5';
  if (next == '5') {
    bool beyondHalf = false;
    for (int i = kGeneralPrecision + 1; i < length; ++i) beyondHalf = beyondHalf || digits[i] != '0';
    up = beyondHalf || (rounded[kGeneralPrecision - 1] - '0') % 2 == 1;
  }
  if (!up) return;
  int i = kGeneralPrecision - 1;
  for (; i >= 0 && rounded[i] == '9'; --i) rounded[i] = '0';
  if (i >= 0) {
    ++rounded[i];
  } else {
    rounded[0] = '1';
    ++*exponent;
  }
}

// The significant digits that remain once trailing zeros are dropped.
int SignificantLength(const char* rounded, int from) {
  int end = kGeneralPrecision;
  while (end > from && rounded[end - 1] == '0') --end;
  return end;
}

}  // namespace

ZpSignalSafeText::ZpSignalSafeText(size_t limit) : limit_(limit < kCapacity ? limit : kCapacity - 1) {
  text_[0] = '\0';
}

ZpSignalSafeText& ZpSignalSafeText::AddChar(char c) {
  ++wanted_;
  if (length_ < limit_) {
    text_[length_++] = c;
    text_[length_] = '\0';
  }
  return *this;
}

ZpSignalSafeText& ZpSignalSafeText::Add(const char* text) {
  for (; *text; ++text) AddChar(*text);
  return *this;
}

ZpSignalSafeText& ZpSignalSafeText::AddDecimal(uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = char('0' + value % 10);
    value /= 10;
  } while (value);
  while (count > 0) AddChar(digits[--count]);
  return *this;
}

ZpSignalSafeText& ZpSignalSafeText::AddSigned(int64_t value) {
  if (value >= 0) return AddDecimal(uint64_t(value));
  AddChar('-');
  return AddDecimal(0 - uint64_t(value));
}

ZpSignalSafeText& ZpSignalSafeText::AddHex(uint64_t value, int minDigits) {
  static const char kDigits[] = "0123456789abcdef";
  int count = 1;
  while (count < 16 && (value >> (4 * count)) != 0) ++count;
  for (int i = count; i < minDigits; ++i) AddChar('0');
  for (int i = count - 1; i >= 0; --i) AddChar(kDigits[(value >> (4 * i)) & 0xf]);
  return *this;
}

ZpSignalSafeText& ZpSignalSafeText::AddPointer(const void* pointer) {
  if (!pointer) return Add("(nil)");
  return Add("0x").AddHex(reinterpret_cast<uintptr_t>(pointer));
}

ZpSignalSafeText& ZpSignalSafeText::AddGeneral(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  if (bits >> 31) AddChar('-');
  uint32_t exponentField = (bits >> 23) & 0xff;
  uint32_t mantissa = bits & 0x7fffff;
  if (exponentField == 0xff) return Add(mantissa ? "nan" : "inf");
  if (exponentField == 0 && mantissa == 0) return AddChar('0');
  // value = mantissa * 2^binaryExponent
  int binaryExponent = exponentField == 0 ? -149 : int(exponentField) - 150;
  if (exponentField != 0) mantissa |= 1u << 23;
  ExactDecimal exact(mantissa);
  if (binaryExponent >= 0) {
    exact.MultiplyByPowerOfTwo(binaryExponent);
  } else {
    exact.MultiplyByPowerOfFive(-binaryExponent);  // and ten to the minus as much
  }
  char digits[ExactDecimal::kMaxDigits];
  int length = exact.Digits(digits);
  int exponent = length - 1 + (binaryExponent < 0 ? binaryExponent : 0);
  char rounded[kGeneralPrecision];
  RoundToPrecision(digits, length, rounded, &exponent);

  if (exponent < -4 || exponent >= kGeneralPrecision) {
    AddChar(rounded[0]);
    int end = SignificantLength(rounded, 1);
    if (end > 1) AddChar('.');
    for (int i = 1; i < end; ++i) AddChar(rounded[i]);
    AddChar('e').AddChar(exponent < 0 ? '-' : '+');
    int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) AddChar('0');
    return AddDecimal(uint64_t(magnitude));
  }
  if (exponent < 0) {
    Add("0.");
    for (int i = exponent + 1; i < 0; ++i) AddChar('0');
    int end = SignificantLength(rounded, 0);
    for (int i = 0; i < end; ++i) AddChar(rounded[i]);
    return *this;
  }
  for (int i = 0; i <= exponent; ++i) AddChar(rounded[i]);
  int end = SignificantLength(rounded, exponent + 1);
  if (end > exponent + 1) AddChar('.');
  for (int i = exponent + 1; i < end; ++i) AddChar(rounded[i]);
  return *this;
}

void ZpSignalSafeText::WriteTo(int fd) const { ZpWriteAll(fd, text_, length_); }

void ZpWriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    length -= size_t(written);
  }
}

bool ZpParseDecimal(const char* text, int* value) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  if (*text < '0' || *text > '9') return false;
  uint32_t v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) v = v * 10 + uint32_t(*text - '0');
  *value = int(negative ? 0 - v : v);
  return true;
}
