// Node callback registration, removal and firing.
#include <maya/MNodeMessage.h>

#include <vector>

#include "model.h"

using mayastandin::host;

namespace {

MCallbackId add(MObject& node, mayastandin::Callback callback, MStatus* status) {
  if (!mayastandin::asNode(node)) {
    if (status) *status = MStatus::kInvalidParameter;
    return 0;
  }
  callback.node = node.entity();
  MCallbackId id = host().nextCallbackId++;
  host().callbacks[id] = callback;
  host().registered.push_back(id);
  if (status) *status = MStatus::kSuccess;
  return id;
}

// Registrations on node in id order; copied so a callback may register or
// remove others while they run.
std::vector<mayastandin::Callback> callbacksOf(const MObject& node) {
  std::vector<mayastandin::Callback> found;
  for (const auto& entry : host().callbacks)
    if (entry.second.node == node.entity()) found.push_back(entry.second);
  return found;
}

}  // namespace

MCallbackId MNodeMessage::addAttributeChangedCallback(MObject& node, MAttr2PlugFunction function,
                                                      void* clientData, MStatus* status) {
  return add(node, {nullptr, function, nullptr, clientData}, status);
}

MCallbackId MNodeMessage::addNodeDirtyPlugCallback(MObject& node, MNodePlugFunction function,
                                                   void* clientData, MStatus* status) {
  return add(node, {nullptr, nullptr, function, clientData}, status);
}

MStatus MMessage::removeCallback(MCallbackId id) {
  host().removed.push_back(id);
  return host().callbacks.erase(id) ? MStatus::kSuccess : MStatus::kFailure;
}

namespace mayastandin {

void fireAttributeChanged(const MObject& node, int message, const char* plug,
                          const char* otherPlug) {
  for (const Callback& c : callbacksOf(node)) {
    if (!c.attributeChanged) continue;
    MPlug first(node, plug);
    MPlug other(MObject(), otherPlug);
    c.attributeChanged(static_cast<MNodeMessage::AttributeMessage>(message), first, other,
                       c.clientData);
  }
}

void fireDirtyPlug(const MObject& node, const char* plug) {
  for (const Callback& c : callbacksOf(node)) {
    if (!c.dirtyPlug) continue;
    MObject self(node);
    MPlug dirty(node, plug);
    c.dirtyPlug(self, dirty, c.clientData);
  }
}

std::size_t liveCallbackCount(const MObject& node) { return callbacksOf(node).size(); }
const std::vector<MCallbackId>& registeredCallbackIds() { return host().registered; }
const std::vector<MCallbackId>& removedCallbackIds() { return host().removed; }

}  // namespace mayastandin
