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
