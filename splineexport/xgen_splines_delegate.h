// The delegate that writes one XGen spline description into the renderer's
// live VRX scene: a "transform" node and under it one "curves" node per
// batch of splines, and that exports again when the description changes.
#pragma once

#include <cstdint>
#include <vector>

#include <maya/MMessage.h>
#include <maya/MNodeMessage.h>
#include <maya/MObjectHandle.h>

#include "vrx_custom_delegate.h"

struct BatchView;

class XGenSplinesDelegate : public VRXCustomDelegate {
 public:
  XGenSplinesDelegate(const MObject& node, int context, const MString& handle,
                      std::uint64_t factoryValue);
  ~XGenSplinesDelegate() override;

  void Create() override;
  void PrepareUpdate() override;
  // The export; without a time when noTime, else as a motion sample at time.
  void SetAttributes(bool noTime, double time) override;
  void FinishUpdate() override;
  bool IsTimeDependent() override;
  bool RegisterCallbacks() override;
  void SetSettingsNode(const MObject& settings) override;
  virtual void RemoveCallbacks();

  // Catmull-rom curves when true: the description's "_zephrin_smooth_curves",
  // unless the settings node enables its own "smoothCurves".
  bool UseSmoothCurves() const;

 private:
  friend void attributeChangedCallback(MNodeMessage::AttributeMessage message, MPlug& plug,
                                       MPlug& otherPlug, void* clientData);
  friend void nodeDirtyPlugCallback(MObject& node, MPlug& plug, void* clientData);

  void ExportBatch(const BatchView& batch, unsigned int number, bool smooth, bool faceCamera,
                   bool noTime, double time);
  // Exports again without a time and asks the renderer to synchronise.
  void Update();

  bool shouldExport = true;
  bool exported = false;
  bool normalsExported = false;
  std::vector<MCallbackId> callbackIds;
  MObjectHandle settingsNode;
};
