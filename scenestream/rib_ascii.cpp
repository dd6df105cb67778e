// Values of the ASCII tokens, as the rules file matched them.
#include <cmath>
#include <cstring>

#include "rib_scanner.h"

namespace {

// The escape of a quoted string at p (just after the backslash); appends
// its byte, if any, to out and returns the position after the escape.
const char* DecodeEscape(const char* p, const char* end, std::string* out, int64_t* lines) {
  char c = *p++;
  switch (c) {
    case '\n': ++*lines; return p;
    case '\r':
      ++*lines;
      if (p < end && *p == '\n') ++p;
      return p;
    case 'n': out->push_back('\n'); return p;
    case 'r': out->push_back('\r'); return p;
    case 't': out->push_back('\t'); return p;
    case 'b': out->push_back('\b'); return p;
    case 'f': out->push_back('\f'); return p;
    default: break;
  }
  if (c >= '0' && c <= '7') {
    unsigned v = static_cast<unsigned>(c - '0');
    for (int digits = 1; digits < 3 && p < end && *p >= '0' && *p <= '7'; ++digits)
      v = v * 8 + static_cast<unsigned>(*p++ - '0');
    out->push_back(static_cast<char>(v & 0xFF));
    return p;
  }
  out->push_back(c);  // the backslash itself, the quote, or any other byte
  return p;
}

// The stream format's own double arithmetic, digit by digit; streams rely
// on it giving the same values as their writers.
double ParseFloat(const char* p, const char* end) {
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  double m = 0.0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) m = m * 10.0 + (*p - '0');
  if (p < end && *p == '.') {
    double s = 0.1;
    for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
      m = m + (*p - '0') * s;
      s *= 0.1;
    }
  }
  if (p < end) {  // exponent
    ++p;
    bool negativeExponent = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint32_t e = 0;
    for (; p < end; ++p)
      e = negativeExponent ? e * 10 - static_cast<uint32_t>(*p - '0') : e * 10 + static_cast<uint32_t>(*p - '0');
    // Zero stays zero: 0 times an exponent past the double range would be
    // 0 * inf, a NaN.
    if (m != 0.0) m = m * std::pow(10.0, static_cast<int32_t>(e));
  }
  return negative ? -m : m;
}

}  // namespace

// Wrapping 32-bit arithmetic; subtracting after "-" keeps -2147483648 exact.
int RibScanner::ScanInteger(const char* text, size_t length) {
  const char* p = text;
  const char* end = text + length;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint32_t v = 0;
  if (negative)
    for (; p < end; ++p) v = v * 10 - static_cast<uint32_t>(*p - '0');
  else
    for (; p < end; ++p) v = v * 10 + static_cast<uint32_t>(*p - '0');
  intValue_ = static_cast<int32_t>(v);
  return RibToken::Integer;
}

// Keeps the text; floatValue converts it.
int RibScanner::ScanFloat(const char* text, size_t length) {
  if (length <= sizeof floatText_) {
    memcpy(floatText_, text, length);
    floatTextLength_ = length;
  } else {
    SetFloat(ParseFloat(text, text + length));
  }
  return RibToken::Float;
}

double RibScanner::ConvertFloatText() const {
  floatValue_ = ParseFloat(floatText_, floatText_ + floatTextLength_);
  floatTextLength_ = 0;
  return floatValue_;
}

int RibScanner::ScanQuotedString(const char* text, size_t length) {
  const char* p = text + 1;
  const char* end = text + length - 1;
  storedValue_.reset();
  if (!memchr(p, '\\', static_cast<size_t>(end - p))) {
    stringValue_.assign(p, end);
  } else {
    stringValue_.clear();
    while (p < end) {
      const char* backslash = static_cast<const char*>(memchr(p, '\\', static_cast<size_t>(end - p)));
      if (!backslash) backslash = end;
      stringValue_.append(p, backslash);
      p = backslash;
      // The rules only match a backslash with a byte after it (a NUL too,
      // which is delivered as a byte rather than cutting the string short).
      if (p < end) p = DecodeEscape(p + 1, end, &stringValue_, &line_);
    }
  }
  ExpandStreamDir();
  return RibToken::String;
}

// After "#": the comment runs to its line end (LF, CR, CR LF or a NUL
// byte; none at the end of the input), which ends the line whichever it
// is. It is read straight from the buffer and never kept there, as a
// token would be: a comment may be gigabytes long. Its text is gathered
// only for a comment callback.
void RibScanner::ScanComment() {
  ReleaseHeldChar();
  std::string text;
  bool lineEnd = false;
  for (;;) {
    const char* p = yy_c_buf_p;
    const char* end = DataEnd();
    const char* stop = p;
    while (stop < end && *stop != '\n' && *stop != '\r' && *stop != '\0') ++stop;
    if (commentCallback_) text.append(p, stop);
    yy_c_buf_p += stop - p;
    if (stop < end) {
      lineEnd = true;
      break;
    }
    if (!RefillBuffer()) break;
  }
  if (lineEnd && *yy_c_buf_p++ == '\r') {
    if (UnreadBytes() > 0 || RefillBuffer()) {
      if (*yy_c_buf_p == '\n') ++yy_c_buf_p;
    }
  }
  ++line_;
  HoldNextChar();
  if (!commentCallback_) return;
  if (!text.empty() && text[0] == '#')
    commentCallback_("structure", "%s", text.c_str() + 1);
  else
    commentCallback_("comment", "%s", text.c_str());
}

// An unknown word (byte < 0) or a byte that starts no token: dropped while
// recovering, otherwise reported, and the next valid token takes its place.
int RibScanner::BadInput(const char* word, int byte) {
  if (skipping_) return -1;
  if (byte < 0)
    Error("Invalid id: %s", word);
  else
    Error("Invalid char: \\%o", static_cast<unsigned>(byte));
  return SkipToNextValidToken();
}
