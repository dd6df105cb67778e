// Stand-in for the base of plug-in data types.
#pragma once

#include <istream>
#include <ostream>

#include <maya/MStatus.h>

class MPxData {
 public:
  MPxData() = default;
  virtual ~MPxData() = default;
  virtual MStatus readBinary(std::istream& in, unsigned int length);
  virtual MStatus writeBinary(std::ostream& out);
};
