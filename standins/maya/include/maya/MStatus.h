// Stand-in for the host's status class: a success or a failure code.
#pragma once

class MStatus {
 public:
  enum MStatusCode { kSuccess = 0, kFailure, kInvalidParameter, kNotFound };

  MStatus() = default;
  MStatus(MStatusCode code) : code_(code) {}

  MStatusCode statusCode() const { return code_; }
  explicit operator bool() const { return code_ == kSuccess; }
  bool operator==(MStatusCode code) const { return code_ == code; }
  bool operator!=(MStatusCode code) const { return code_ != code; }

 private:
  MStatusCode code_ = kSuccess;
};
