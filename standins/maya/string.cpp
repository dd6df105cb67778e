#include <maya/MString.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The shortest %g text that reads back as the same double, in plain
// notation when one reads back ("10", not "1e+01"); else in exponent form.
std::string doubleText(double value) {
  char text[40];
  std::string exponentForm;
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    if (std::strtod(text, nullptr) != value) continue;
    if (!std::strchr(text, 'e')) return text;
    if (exponentForm.empty()) exponentForm = text;
  }
  return exponentForm.empty() ? text : exponentForm;
}

}  // namespace

MString::MString(const char* text) : text_(text ? text : "") {}

MString& MString::operator=(const char* text) {
  text_ = text ? text : "";
  return *this;
}

MString& MString::operator=(double value) {
  text_ = doubleText(value);
  return *this;
}

MString MString::operator+(const MString& other) const {
  MString sum(*this);
  return sum += other;
}

MString MString::operator+(const char* text) const {
  MString sum(*this);
  return sum += text;
}

MString MString::operator+(double value) const {
  MString sum(*this);
  return sum += value;
}

MString& MString::operator+=(const MString& other) {
  text_ += other.text_;
  return *this;
}

MString& MString::operator+=(const char* text) {
  if (text) text_ += text;
  return *this;
}

MString& MString::operator+=(double value) {
  text_ += doubleText(value);
  return *this;
}

bool MString::operator==(const char* text) const { return text && text_ == text; }
