// Stand-in for the host's plug: one attribute (or array element, written
// "name[index]") of one node of the in-memory host model. A plug that
// findPlug gives when no networked plug is wanted is detached: stricter than
// the host, it sees no connection and no value, so the tests show which kind
// the plug-in asked for.
#pragma once

#include <maya/MObject.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

class MPlugArray;

class MPlug {
 public:
  MPlug() = default;
  MPlug(const MObject& node, const MString& name, bool networked = true)
      : node_(node), name_(name), networked_(networked) {}

  bool isNull(MStatus* status = nullptr) const;
  MObject node(MStatus* status = nullptr) const;
  // The attribute's short name (its long name with useLongNames) and the
  // element index, after the node's name and a dot with includeNodeName. The
  // model's attributes are plain, top-level and without aliases or
  // instances, so the other options change nothing.
  MString partialName(bool includeNodeName = false, bool includeNonMandatoryIndices = false,
                      bool includeInstancedIndices = false, bool useAlias = false,
                      bool useFullAttributePath = false, bool useLongNames = false,
                      MStatus* status = nullptr) const;
  unsigned int numConnectedElements(MStatus* status = nullptr) const;
  MObject asMObject(MStatus* status = nullptr) const;
  MStatus getValue(bool& value) const;
  bool connectedTo(MPlugArray& plugs, bool asDst, bool asSrc, MStatus* status = nullptr) const;

 private:
  MObject node_;
  MString name_;
  bool networked_ = true;
};
