// Stand-in for the host's function set on a dependency node.
#pragma once

#include <maya/MObject.h>
#include <maya/MPlug.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

class MFnDependencyNode {
 public:
  MFnDependencyNode() = default;
  explicit MFnDependencyNode(const MObject& node, MStatus* status = nullptr);
  virtual ~MFnDependencyNode() = default;

  // Fails with kInvalidParameter unless node is a dependency node.
  MStatus setObject(const MObject& node);
  // A null plug and kInvalidParameter when the node has no such attribute.
  MPlug findPlug(const MString& name, bool wantNetworkedPlug, MStatus* status = nullptr) const;
  MString typeName(MStatus* status = nullptr) const;

 private:
  MObject node_;
};
