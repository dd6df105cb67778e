// The test-facing builders of the in-memory host model.
#include <algorithm>

#include "model.h"

namespace mayastandin {

Host& host() {
  static Host instance;
  return instance;
}

Node* asNode(const MObject& object) { return dynamic_cast<Node*>(object.entity()); }

std::string attributeOf(const std::string& plug) { return plug.substr(0, plug.find('[')); }

void reset() { host() = Host(); }

MObject createPlugin(const char* path) {
  auto plugin = std::make_shared<Plugin>();
  plugin->path = path;
  return MObject(plugin);
}

MObject createNode(const char* type, const char* name) {
  auto node = std::make_shared<Node>();
  node->type = type;
  node->name = name;
  return MObject(node);
}

void addAttribute(const MObject& node, const char* name, const char* longName) {
  if (Node* n = asNode(node)) n->attributes[name].longName = longName ? longName : "";
}

void setBool(const MObject& node, const char* name, bool value) {
  if (Node* n = asNode(node)) {
    Attribute& a = n->attributes[name];
    a.kind = Attribute::kBool;
    a.boolValue = value;
  }
}

void setObject(const MObject& node, const char* name, const MObject& value) {
  if (Node* n = asNode(node)) {
    Attribute& a = n->attributes[name];
    a.kind = Attribute::kObject;
    a.objectValue = value;
  }
}

void removeAttribute(const MObject& node, const char* name) {
  if (Node* n = asNode(node)) n->attributes.erase(name);
}

void connect(const MObject& src, const char* srcPlug, const MObject& dst, const char* dstPlug) {
  host().connections.push_back({src, srcPlug, dst, dstPlug});
}

void disconnect(const MObject& src, const char* srcPlug, const MObject& dst, const char* dstPlug) {
  auto& all = host().connections;
  all.erase(std::remove_if(all.begin(), all.end(),
                           [&](const Connection& c) {
                             return c.src == src && c.srcPlug == srcPlug && c.dst == dst &&
                                    c.dstPlug == dstPlug;
                           }),
            all.end());
}

MObject createPluginData(MPxData* data) {
  auto object = std::make_shared<DataObject>();
  object->data.reset(data);
  return MObject(object);
}

MStatus SplineData::writeBinary(std::ostream& out) {
  splinedata::writeBatches(out, batches_);
  return out ? MStatus::kSuccess : MStatus::kFailure;
}

const std::vector<PluginIdentity>& pluginConstructions() { return host().pluginConstructions; }

}  // namespace mayastandin
