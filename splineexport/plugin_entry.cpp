#include "plugin_entry.h"

// MApiVersion is defined below, with the plug-in's other entry points; the
// host's header would define it a second time.
#define MNoVersionString
#include <maya/MFnPlugin.h>

#include <cstdio>

#include "xgen_splines_delegate.h"

namespace {
const char kCommandName[] = "xgmSplineDescriptionExporter";
}

extern "C" {

const char MApiVersion[9] = "20190000";

MStatus initializePlugin(MObject plugin) {
  MString version;
  version = 1.0;
  MFnPlugin fn(plugin, "Orvath Works", version.asChar(), "Any");
  return fn.registerCommand(kCommandName, xgmSplineDescriptionExporter::creator,
                            xgmSplineDescriptionExporter::newSyntax);
}

MStatus uninitializePlugin(MObject plugin) {
  MFnPlugin fn(plugin, "Unknown", "Unknown", "Any");
  return fn.deregisterCommand(kCommandName);
}

}  // extern "C"

VRXCustomDelegate* createXGenSplinesDelegate(const MObject& node, int context,
                                             const MString& handle, std::uint64_t value,
                                             std::uint64_t) {
  return new XGenSplinesDelegate(node, context, handle, value);
}

void* xgmSplineDescriptionExporter::creator() { return new xgmSplineDescriptionExporter; }

MSyntax xgmSplineDescriptionExporter::newSyntax() { return MSyntax(); }

MStatus xgmSplineDescriptionExporter::doIt(const MArgList&) {
  // Never freed: the renderer's plug-in keeps the address for the life of
  // the process.
  auto* record = new DelegateFactoryRecord;
  record->factory = createXGenSplinesDelegate;
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<void*>(record));
  setResult(MString(text));
  return MStatus::kSuccess;
}

bool xgmSplineDescriptionExporter::isUndoable() const { return false; }
