#include "stream_writers.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "rib_keywords.h"
#include "rib_token.h"

ByteSink::ByteSink(bool gzip) {
  if (gzip) gz_ = gzdopen(dup(STDOUT_FILENO), "wb");
  failed_ = gzip && !gz_;
}

ByteSink::~ByteSink() { Close(); }

void ByteSink::Write(const void* data, size_t size) {
  if (failed_ || size == 0) return;
  if (gz_)
    failed_ = gzwrite(static_cast<gzFile>(gz_), data, unsigned(size)) != int(size);
  else
    failed_ = std::fwrite(data, 1, size, stdout) != size;
}

bool ByteSink::Close() {
  if (gz_) {
    failed_ = gzclose(static_cast<gzFile>(gz_)) != Z_OK || failed_;
    gz_ = nullptr;
  }
  failed_ = std::fflush(stdout) != 0 || failed_;
  return !failed_;
}

void AsciiWriter::Separate() {
  if (lineStarted_) sink_.Put(' ');
  lineStarted_ = true;
}

void AsciiWriter::Request(int code) {
  const char* keyword = RibRequestKeyword(code);
  if (!keyword) return;
  if (lineStarted_) sink_.Put('\n');
  sink_.Write(keyword, std::strlen(keyword));
  lineStarted_ = true;
}

void AsciiWriter::Bracket(char bracket) {
  Separate();
  sink_.Put(bracket);
}

void AsciiWriter::String(const std::string& bytes) {
  Separate();
  sink_.Put('"');
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      sink_.Put('\\');
      sink_.Put(c);
    } else if (c < 0x20 && c != '\n' && c != '\t') {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", c);
      sink_.Write(octal, 4);
    } else {
      sink_.Put(c);
    }
  }
  sink_.Put('"');
}

void AsciiWriter::Integer(int32_t value) {
  Separate();
  sink_.Write(std::to_string(value));
}

void AsciiWriter::Float(double value) {
  Separate();
  if (std::isnan(value)) return sink_.Write("nan", 3);
  if (std::isinf(value)) return sink_.Write(value < 0 ? "-inf" : "inf", value < 0 ? 4 : 3);
  char text[40];
  for (int digits = 9; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  std::string number = text;
  if (number.find_first_of(".e") == std::string::npos) number += ".";
  sink_.Write(number);
}

void BinaryWriter::BigEndian(uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) sink_.Put(static_cast<unsigned char>(value >> (8 * i)));
}

void BinaryWriter::Request(int code) {
  const char* keyword = RibRequestKeyword(code);
  if (!keyword) return;
  unsigned char request = static_cast<unsigned char>(code - RibToken::FirstRequest);
  if (!defined_[request]) {
    sink_.Put(0xCC);
    sink_.Put(request);
    String(keyword);
    defined_[request] = true;
  }
  sink_.Put(0xA6);
  sink_.Put(request);
}

void BinaryWriter::Bracket(char bracket) { sink_.Put(bracket); }

void BinaryWriter::String(const std::string& bytes) {
  if (bytes.size() < 16) {
    sink_.Put(static_cast<unsigned char>(0x90 + bytes.size()));
  } else {
    int lengthBytes = bytes.size() < 0x100 ? 1 : bytes.size() < 0x10000 ? 2
                      : bytes.size() < 0x1000000 ? 3 : 4;
    sink_.Put(static_cast<unsigned char>(0x9F + lengthBytes));
    BigEndian(bytes.size(), lengthBytes);
  }
  sink_.Write(bytes);
}

void BinaryWriter::Integer(int32_t value) {
  sink_.Put(0x83);
  BigEndian(static_cast<uint32_t>(value), 4);
}

void BinaryWriter::Float(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  sink_.Put(0xA5);
  BigEndian(bits, 8);
}
