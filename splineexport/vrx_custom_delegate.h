// The interface through which the renderer's host plug-in drives an exporter
// object: one delegate per host node. Every operation defaults to doing
// nothing. The slot order of the virtual operations is fixed.
#pragma once

#include <cstdint>

#include <maya/MObject.h>
#include <maya/MString.h>

class VRXCustomDelegate {
 public:
  VRXCustomDelegate(const MObject& node, int context, const MString& handle,
                    std::uint64_t factoryValue);
  VRXCustomDelegate(const VRXCustomDelegate&) = delete;
  VRXCustomDelegate& operator=(const VRXCustomDelegate&) = delete;

  virtual ~VRXCustomDelegate();
  virtual void Create();
  virtual void PrepareUpdate();
  virtual void SetAttributes(bool noTime, double time);
  virtual void FinishUpdate();
  virtual void Reserved();
  virtual bool IsTimeDependent();
  virtual bool RegisterCallbacks();
  virtual void SetSettingsNode(const MObject& settings);

 protected:
  MObject node;          // the host node to export
  std::int32_t context;  // the VRX context of every call
  MString handle;        // the VRX handle of the main node
  std::uint64_t factoryValue;
};
