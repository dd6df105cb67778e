// The plug-in's entry points, its one command and the factory record that
// the command hands to the renderer's host plug-in.
#pragma once

#include <cstddef>
#include <cstdint>

#include <maya/MArgList.h>
#include <maya/MObject.h>
#include <maya/MPxCommand.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MSyntax.h>

#include "plugin_export.h"
#include "vrx_custom_delegate.h"

// The host finds the entry points by their unmangled names and calls them
// from C++ with its own MStatus: C linkage for the names only, so the
// return type need not be one that C knows.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" {
SPLINEEXPORT_API extern const char MApiVersion[9];
SPLINEEXPORT_API MStatus initializePlugin(MObject plugin);
SPLINEEXPORT_API MStatus uninitializePlugin(MObject plugin);
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

using DelegateFactory = VRXCustomDelegate* (*)(const MObject& node, int context,
                                               const MString& handle, std::uint64_t value,
                                               std::uint64_t ignored);

// Read by the renderer's host plug-in; layout fixed, contents its own.
struct DelegateFactoryRecord {
  std::int32_t tag = 2;
  std::uint8_t zero[20] = {};
  DelegateFactory factory = nullptr;
};
static_assert(sizeof(DelegateFactoryRecord) == 32, "the factory record is 32 bytes");
static_assert(offsetof(DelegateFactoryRecord, factory) == 24, "the factory address is last");

// Makes the delegate for one XGen spline description; value is kept, not used.
VRXCustomDelegate* createXGenSplinesDelegate(const MObject& node, int context,
                                             const MString& handle, std::uint64_t value,
                                             std::uint64_t ignored);

// Answers with the "%p" text of a new factory record.
class xgmSplineDescriptionExporter : public MPxCommand {
 public:
  static void* creator();
  static MSyntax newSyntax();
  MStatus doIt(const MArgList& args) override;
  bool isUndoable() const override;
};
