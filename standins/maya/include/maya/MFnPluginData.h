// Stand-in for the host's function set on a plug-in data object.
#pragma once

#include <maya/MObject.h>
#include <maya/MPxData.h>
#include <maya/MStatus.h>

class MFnPluginData {
 public:
  MFnPluginData() = default;
  explicit MFnPluginData(const MObject& object, MStatus* status = nullptr);
  virtual ~MFnPluginData() = default;

  // Fails with kInvalidParameter unless object is a plug-in data object.
  MStatus setObject(const MObject& object);
  // The data object, or null with kFailure when none is attached.
  MPxData* data(MStatus* status = nullptr) const;

 private:
  MObject object_;
};
