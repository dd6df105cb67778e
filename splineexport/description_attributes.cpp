#include "description_attributes.h"

#include <maya/MPlug.h>
#include <maya/MPlugArray.h>

bool getBoolAttribute(const MObject& node, const MString& name, bool fallback) {
  if (node.isNull()) return fallback;
  MStatus status;
  MFnDependencyNode fn(node, &status);
  if (!status) return fallback;
  MPlug plug = fn.findPlug(name, true, &status);
  if (!status || plug.isNull()) return fallback;
  bool value = fallback;
  if (!plug.getValue(value)) return fallback;
  return value;
}

bool feedsModifierGuide(MFnDependencyNode& description) {
  MStatus status;
  MPlug splineData = description.findPlug("outSplineData", true, &status);
  if (!status || splineData.isNull()) return false;
  MPlugArray fed;
  splineData.connectedTo(fed, false, true, &status);
  if (!status) return false;
  for (unsigned int i = 0; i < fed.length(); ++i) {
    MFnDependencyNode target(fed[i].node(), &status);
    if (status && target.typeName() == "xgmModifierGuide") return true;
  }
  return false;
}
