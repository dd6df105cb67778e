// Stand-in for the host's string class. Doubles are written in the host's
// text form: the shortest plain decimal text that reads back as the same
// double ("1" for 1.0, "10" for 10.0, "0.5" for 0.5).
#pragma once

#include <string>

class MString {
 public:
  MString() = default;
  MString(const char* text);
  MString(const MString& other) = default;
  MString& operator=(const MString& other) = default;
  MString& operator=(const char* text);
  MString& operator=(double value);
  ~MString() = default;

  const char* asChar() const { return text_.c_str(); }

  MString operator+(const MString& other) const;
  MString operator+(const char* text) const;
  MString operator+(double value) const;
  MString& operator+=(const MString& other);
  MString& operator+=(const char* text);
  MString& operator+=(double value);

  bool operator==(const MString& other) const { return text_ == other.text_; }
  bool operator==(const char* text) const;
  bool operator!=(const MString& other) const { return !(*this == other); }
  bool operator!=(const char* text) const { return !(*this == text); }

 private:
  std::string text_;
};
