// Stand-in for the base of plug-in data types.
#pragma once

#include <ostream>

#include <maya/MStatus.h>

class MPxData {
 public:
  MPxData() = default;
  virtual ~MPxData() = default;
  virtual MStatus writeBinary(std::ostream& out);
};
