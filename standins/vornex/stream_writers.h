// Token writers of the vornex stand-in: the ASCII and the binary encoding of
// the tokens the reader delivers.
#pragma once

#include <cstdint>
#include <string>

// Where encoded bytes go: standard output, plain or gzip-compressed.
class ByteSink {
 public:
  explicit ByteSink(bool gzip);
  ~ByteSink();
  void Write(const void* data, size_t size);
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  void Put(unsigned char byte) { Write(&byte, 1); }
  // Flushes and closes; false when a write failed.
  bool Close();

 private:
  void* gz_ = nullptr;  // gzFile when compressing
  bool failed_ = false;
};

class TokenWriter {
 public:
  virtual ~TokenWriter() {}
  virtual void Request(int code) = 0;
  virtual void Bracket(char bracket) = 0;
  virtual void String(const std::string& bytes) = 0;
  virtual void Integer(int32_t value) = 0;
  virtual void Float(double value) = 0;
};

// One request per line; strings escaped so that the reader reads back the
// same bytes; floats always in a form that reads back as a float.
class AsciiWriter : public TokenWriter {
 public:
  explicit AsciiWriter(ByteSink& sink) : sink_(sink) {}
  void Request(int code) override;
  void Bracket(char bracket) override;
  void String(const std::string& bytes) override;
  void Integer(int32_t value) override;
  void Float(double value) override;

 private:
  void Separate();
  ByteSink& sink_;
  bool lineStarted_ = false;
};

// Requests as encoded request codes (each defined on first use), strings,
// integers and doubles in their binary forms, brackets as ASCII.
class BinaryWriter : public TokenWriter {
 public:
  explicit BinaryWriter(ByteSink& sink) : sink_(sink) {}
  void Request(int code) override;
  void Bracket(char bracket) override;
  void String(const std::string& bytes) override;
  void Integer(int32_t value) override;
  void Float(double value) override;

 private:
  void BigEndian(uint64_t value, int bytes);
  ByteSink& sink_;
  bool defined_[256] = {};
};
