// Helpers shared by the reader's tests: scan bytes to a list of readable
// events (tokens with their values, messages with their severity), and
// sources that misbehave in controlled ways.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "rib_scanner.h"

// Tokens read "s:<bytes>", "i:<int>", "f:<%.17g>", "[", "]", or the code;
// messages "E:<text>" (error), "W:<text>" (warning). The end is not listed.
inline void CollectMessage(void* user, int severity, const char* message) {
  auto* events = static_cast<std::vector<std::string>*>(user);
  events->push_back(std::string(severity == 1 ? "W:" : severity == 2 ? "E:" : "F:") + message);
}

inline std::string Describe(const RibScanner& scanner, int token) {
  char text[64];
  switch (token) {
    case RibToken::String: return "s:" + scanner.stringValue();
    case RibToken::Integer: snprintf(text, sizeof text, "i:%d", scanner.intValue()); return text;
    case RibToken::Float: snprintf(text, sizeof text, "f:%.17g", scanner.floatValue()); return text;
    case RibToken::ArrayBegin: return "[";
    case RibToken::ArrayEnd: return "]";
    default: return std::to_string(token);
  }
}

// Scans to the end token; a scanner that does not end within the limit is
// a failure, never a hang.
inline std::vector<std::string> ScanSource(RibSource* source, const char* name = "t.rib",
                                           RibCommentCallback comments = nullptr) {
  std::vector<std::string> events;
  RibScanner scanner(source, name, comments, CollectMessage, &events);
  for (int i = 0; i < 1000000; ++i) {
    int token = scanner.NextToken();
    if (token == RibToken::End) return events;
    events.push_back(Describe(scanner, token));
  }
  ADD_FAILURE() << "no end token";
  return events;
}

inline std::vector<std::string> Scan(const std::string& bytes, const char* name = "t.rib") {
  return ScanSource(new RibFromBuffer(bytes.data(), bytes.size()), name);
}

// A scanner over its own copy of the bytes; messages are collected.
struct ScannerOver {
  explicit ScannerOver(std::string stream, const char* name = "t.rib")
      : bytes(std::move(stream)),
        scanner(new RibFromBuffer(bytes.data(), bytes.size()), name, nullptr, CollectMessage, &messages) {}
  std::string bytes;
  std::vector<std::string> messages;
  RibScanner scanner;
};

// Delivers at most `step` bytes per read.
class TrickleSource : public RibSource {
 public:
  TrickleSource(std::string bytes, int step) : bytes_(std::move(bytes)), step_(step) {}
  int Read(void* buf, int maxBytes) override {
    size_t n = std::min({bytes_.size() - at_, static_cast<size_t>(maxBytes), static_cast<size_t>(step_)});
    bytes_.copy(static_cast<char*>(buf), n, at_);
    at_ += n;
    return static_cast<int>(n);
  }

 private:
  std::string bytes_;
  int step_;
  size_t at_ = 0;
};

// Delivers its bytes, then fails every read.
class FailingSource : public RibSource {
 public:
  explicit FailingSource(std::string bytes) : bytes_(std::move(bytes)) {}
  int Read(void* buf, int maxBytes) override {
    if (bytes_.empty()) return -1;
    size_t n = std::min(bytes_.size(), static_cast<size_t>(maxBytes));
    bytes_.copy(static_cast<char*>(buf), n);
    bytes_.erase(0, n);
    return static_cast<int>(n);
  }

 private:
  std::string bytes_;
};
