// Stand-in for the host's array of plugs.
#pragma once

#include <vector>

#include <maya/MPlug.h>

class MPlugArray {
 public:
  unsigned int length() const { return static_cast<unsigned int>(plugs_.size()); }
  const MPlug& operator[](unsigned int index) const { return plugs_[index]; }
  MPlug& operator[](unsigned int index) { return plugs_[index]; }
  void append(const MPlug& plug) { plugs_.push_back(plug); }
  void clear() { plugs_.clear(); }

 private:
  std::vector<MPlug> plugs_;
};
