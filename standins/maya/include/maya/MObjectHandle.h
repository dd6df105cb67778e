// Stand-in for the host's persistent object handle.
#pragma once

#include <maya/MObject.h>

class MObjectHandle {
 public:
  MObjectHandle() = default;
  MObjectHandle(const MObject& object) : object_(object) {}
  MObjectHandle& operator=(const MObject& object) {
    object_ = object;
    return *this;
  }

  const MObject& objectRef() const { return object_; }

 private:
  MObject object_;
};
