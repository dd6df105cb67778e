// Stand-in for the host's node callbacks.
#pragma once

#include <maya/MMessage.h>
#include <maya/MObject.h>
#include <maya/MPlug.h>

class MNodeMessage : public MMessage {
 public:
  enum AttributeMessage : int {
    kConnectionMade = 0x01,
    kConnectionBroken = 0x02,
    kAttributeEval = 0x04,
    kAttributeSet = 0x08,
    kAttributeLocked = 0x10,
    kAttributeUnlocked = 0x20,
    kAttributeAdded = 0x40,
    kAttributeRemoved = 0x80,
    kAttributeRenamed = 0x100,
    kIncomingDirection = 0x800,
  };
  using MAttr2PlugFunction = void (*)(AttributeMessage message, MPlug& plug, MPlug& otherPlug,
                                      void* clientData);
  using MNodePlugFunction = void (*)(MObject& node, MPlug& plug, void* clientData);

  static MCallbackId addAttributeChangedCallback(MObject& node, MAttr2PlugFunction function,
                                                 void* clientData = nullptr,
                                                 MStatus* status = nullptr);
  static MCallbackId addNodeDirtyPlugCallback(MObject& node, MNodePlugFunction function,
                                              void* clientData = nullptr,
                                              MStatus* status = nullptr);
};
