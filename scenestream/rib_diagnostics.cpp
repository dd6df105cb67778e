// Messages, the two recoveries and the fatal path of the scanner.
#include <cstdio>
#include <cstdlib>

#include "format_buffer.h"
#include "rib_scanner.h"

namespace {
constexpr int kMessageSize = 2048;
}

void RibScanner::FormatMessage(const char* format, va_list args, char* out, int size) {
  int prefix = snprintf(out, static_cast<size_t>(size), "[%s:%lld]: ", streamName_.c_str(),
                        static_cast<long long>(line_));
  if (prefix >= 0 && prefix < size - 1) vsnprintf(out + prefix, static_cast<size_t>(size - prefix), format, args);
}

void RibScanner::Report(int severity, const char* format, va_list args) {
  char text[kMessageSize];
  FormatMessage(format, args, text, sizeof text);
  errorCallback_(user_, severity, text);
}

void RibScanner::Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Report(2, format, args);
  va_end(args);
}

void RibScanner::Warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Report(1, format, args);
  va_end(args);
}

// Recovery 1: the first valid token after bad input, whatever it is. A
// binary error on the way turns it into recovery 2.
int RibScanner::SkipToNextValidToken() {
  skipping_ = true;
  skipToCall_ = false;
  Warning("Skipping to next valid token...");
  int token = NextToken();
  while (skipToCall_ && token != RibToken::End && !RibToken::IsRequest(token)) {
    if (!DropToken(token)) token = RibToken::End;
    else token = NextToken();
  }
  skipping_ = false;
  skipToCall_ = false;
  return token;
}

// Recovery 2: tokens are dropped up to the next request or the end.
int RibScanner::SkipToNextCall() {
  skipping_ = true;
  Warning("Skipping to next call...");
  int token = NextToken();
  while (token != RibToken::End && !RibToken::IsRequest(token)) {
    if (!DropToken(token)) token = RibToken::End;
    else token = NextToken();
  }
  skipping_ = false;
  skipToCall_ = false;
  return token;
}

// After a binary form that names an undefined request or string. Met while
// a recovery runs, the error is reported and that recovery becomes a skip
// to the next call, instead of a nested one: hostile input cannot make the
// recoveries nest without bound.
int RibScanner::BinaryError(const char* format, unsigned value) {
  Error(format, value);
  if (!skipping_) return SkipToNextCall();
  Warning("Skipping to next call...");
  skipToCall_ = true;
  return -1;
}

void RibScanner::LexerError(const char* message) {
  ZpFormatBuffer text;
  text.Printf("%s (in '%s')", message, streamName_.c_str());
  errorCallback_(user_, 3, text.Text());
  exit(2);
}
