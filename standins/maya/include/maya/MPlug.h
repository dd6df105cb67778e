// Stand-in for the host's plug: one attribute (or array element, written
// "name[index]") of one node of the in-memory host model.
#pragma once

#include <maya/MObject.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

class MPlugArray;

class MPlug {
 public:
  MPlug() = default;
  MPlug(const MObject& node, const MString& name) : node_(node), name_(name) {}

  bool isNull(MStatus* status = nullptr) const;
  MObject node(MStatus* status = nullptr) const;
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
};
