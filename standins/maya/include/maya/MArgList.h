// Stand-in for the arguments a command is run with.
#pragma once

#include <vector>

#include <maya/MStatus.h>
#include <maya/MString.h>

class MArgList {
 public:
  unsigned int length(MStatus* status = nullptr) const {
    if (status) *status = MStatus::kSuccess;
    return static_cast<unsigned int>(args_.size());
  }
  void addArg(const MString& arg) { args_.push_back(arg); }

 private:
  std::vector<MString> args_;
};
