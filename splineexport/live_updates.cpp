// Re-exporting a description when it changes in the host.
#include <maya/MMessage.h>
#include <maya/MNodeMessage.h>
#include <maya/MPlug.h>

#include "vrx_binding.h"
#include "xgen_splines_delegate.h"

void attributeChangedCallback(MNodeMessage::AttributeMessage message, MPlug& plug, MPlug&,
                              void* clientData) {
  auto* delegate = static_cast<XGenSplinesDelegate*>(clientData);
  if (!delegate) return;
  if (message & MNodeMessage::kAttributeEval) {
    // Before the first export only the evaluation of "osd" acts: it is the
    // sign that the description's splines are ready.
    if (plug.partialName(false, false, false, false, false, false) == "osd" &&
        !delegate->exported) {
      delegate->shouldExport = true;
      delegate->Update();
    }
    return;
  }
  const int changes =
      MNodeMessage::kConnectionMade | MNodeMessage::kConnectionBroken | MNodeMessage::kAttributeSet;
  if ((message & changes) && delegate->exported) delegate->Update();
}

void nodeDirtyPlugCallback(MObject&, MPlug&, void* clientData) {
  auto* delegate = static_cast<XGenSplinesDelegate*>(clientData);
  if (delegate && delegate->exported) delegate->Update();
}

bool XGenSplinesDelegate::RegisterCallbacks() {
  callbackIds.push_back(
      MNodeMessage::addAttributeChangedCallback(node, attributeChangedCallback, this));
  callbackIds.push_back(MNodeMessage::addNodeDirtyPlugCallback(node, nodeDirtyPlugCallback, this));
  return true;
}

void XGenSplinesDelegate::RemoveCallbacks() {
  for (MCallbackId id : callbackIds) MMessage::removeCallback(id);
  callbackIds.clear();
}

void XGenSplinesDelegate::Update() {
  PrepareUpdate();
  SetAttributes(true, 0.0);
  const char* action = "synchronize";
  VRXParam control = {"action", &action, kVRXString, 0, 1, 0};
  VRX::LinkedAPI::Instance().VRXRenderControl(context, 1, &control);
}
