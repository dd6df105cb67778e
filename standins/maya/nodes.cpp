// Dependency nodes, plugs and plug-in data over the in-memory model.
#include <maya/MFnDependencyNode.h>
#include <maya/MFnPluginData.h>
#include <maya/MPlug.h>
#include <maya/MPlugArray.h>
#include <maya/MPxData.h>

#include <set>

#include "model.h"

using mayastandin::asNode;
using mayastandin::Attribute;
using mayastandin::attributeOf;
using mayastandin::host;
using mayastandin::Node;

namespace {

void report(MStatus* status, MStatus value) {
  if (status) *status = value;
}

// The attribute a plug names, by its short or its long name; *shortName
// receives the name it is kept under.
const Attribute* findAttribute(const MObject& node, const std::string& plug,
                               std::string* shortName = nullptr) {
  Node* n = asNode(node);
  if (!n) return nullptr;
  std::string name = attributeOf(plug);
  for (const auto& entry : n->attributes) {
    if (entry.first == name || entry.second.longName == name) {
      if (shortName) *shortName = entry.first;
      return &entry.second;
    }
  }
  return nullptr;
}

// The plug's name written with the attribute's short name, as connections
// are recorded.
std::string shortPlugName(const MObject& node, const std::string& plug) {
  std::string shortName;
  if (!findAttribute(node, plug, &shortName)) return plug;
  return shortName + plug.substr(attributeOf(plug).size());
}

}  // namespace

MFnDependencyNode::MFnDependencyNode(const MObject& node, MStatus* status) {
  report(status, setObject(node));
}

MStatus MFnDependencyNode::setObject(const MObject& node) {
  if (!asNode(node)) return MStatus::kInvalidParameter;
  node_ = node;
  return MStatus::kSuccess;
}

MPlug MFnDependencyNode::findPlug(const MString& name, bool wantNetworkedPlug,
                                  MStatus* status) const {
  if (!findAttribute(node_, name.asChar())) {
    report(status, MStatus::kInvalidParameter);
    return MPlug();
  }
  report(status, MStatus::kSuccess);
  return MPlug(node_, name, wantNetworkedPlug);
}

MString MFnDependencyNode::typeName(MStatus* status) const {
  Node* n = asNode(node_);
  report(status, n ? MStatus::kSuccess : MStatus::kFailure);
  return n ? MString(n->type.c_str()) : MString();
}

bool MPlug::isNull(MStatus* status) const {
  report(status, MStatus::kSuccess);
  return node_.isNull();
}

MObject MPlug::node(MStatus* status) const {
  report(status, node_.isNull() ? MStatus::kFailure : MStatus::kSuccess);
  return node_;
}

MString MPlug::partialName(bool includeNodeName, bool, bool, bool, bool, bool useLongNames,
                           MStatus* status) const {
  std::string shortName;
  const Attribute* a = findAttribute(node_, name_.asChar(), &shortName);
  report(status, a ? MStatus::kSuccess : MStatus::kFailure);
  if (!a) return MString();
  std::string plug = name_.asChar();
  std::string text = (useLongNames && !a->longName.empty() ? a->longName : shortName) +
                     plug.substr(attributeOf(plug).size());
  if (includeNodeName) text = asNode(node_)->name + "." + text;
  return MString(text.c_str());
}

unsigned int MPlug::numConnectedElements(MStatus* status) const {
  if (!findAttribute(node_, name_.asChar())) {
    report(status, MStatus::kFailure);
    return 0;
  }
  report(status, MStatus::kSuccess);
  if (!networked_) return 0;
  std::string prefix = shortPlugName(node_, name_.asChar()) + "[";
  std::set<std::string> elements;
  for (const auto& c : host().connections) {
    if (c.src == node_ && c.srcPlug.compare(0, prefix.size(), prefix) == 0)
      elements.insert(c.srcPlug);
    if (c.dst == node_ && c.dstPlug.compare(0, prefix.size(), prefix) == 0)
      elements.insert(c.dstPlug);
  }
  return static_cast<unsigned int>(elements.size());
}

MObject MPlug::asMObject(MStatus* status) const {
  const Attribute* a = findAttribute(node_, name_.asChar());
  if (!a || a->kind != Attribute::kObject || !networked_) {
    report(status, MStatus::kFailure);
    return MObject();
  }
  report(status, MStatus::kSuccess);
  return a->objectValue;
}

MStatus MPlug::getValue(bool& value) const {
  const Attribute* a = findAttribute(node_, name_.asChar());
  if (!a || a->kind != Attribute::kBool || !networked_) return MStatus::kInvalidParameter;
  value = a->boolValue;
  return MStatus::kSuccess;
}

bool MPlug::connectedTo(MPlugArray& plugs, bool asDst, bool asSrc, MStatus* status) const {
  plugs.clear();
  if (!findAttribute(node_, name_.asChar())) {
    report(status, MStatus::kFailure);
    return false;
  }
  report(status, MStatus::kSuccess);
  if (!networked_) return false;
  const std::string self = shortPlugName(node_, name_.asChar());
  for (const auto& c : host().connections) {
    if (asSrc && c.src == node_ && c.srcPlug == self)
      plugs.append(MPlug(c.dst, c.dstPlug.c_str()));
    if (asDst && c.dst == node_ && c.dstPlug == self)
      plugs.append(MPlug(c.src, c.srcPlug.c_str()));
  }
  return plugs.length() > 0;
}

MStatus MPxData::writeBinary(std::ostream&) { return MStatus::kFailure; }

MFnPluginData::MFnPluginData(const MObject& object, MStatus* status) {
  report(status, setObject(object));
}

MStatus MFnPluginData::setObject(const MObject& object) {
  if (!dynamic_cast<mayastandin::DataObject*>(object.entity()))
    return MStatus::kInvalidParameter;
  object_ = object;
  return MStatus::kSuccess;
}

MPxData* MFnPluginData::data(MStatus* status) const {
  auto* d = dynamic_cast<mayastandin::DataObject*>(object_.entity());
  MPxData* result = d ? d->data.get() : nullptr;
  report(status, result ? MStatus::kSuccess : MStatus::kFailure);
  return result;
}
