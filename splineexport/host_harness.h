// Test harness that plays the host and the renderer's host plug-in: it loads
// the built plug-in with dlopen, initialises it, runs its command, reads the
// factory record and builds description nodes in the stand-in host.
#pragma once

#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <maya/MObject.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

#include "maya_standin.h"
#include "vrx_custom_delegate.h"
#include "xgen_standin.h"
#include "zephrin_standin.h"

namespace harness {

using EntryPoint = MStatus (*)(MObject);
using Factory = VRXCustomDelegate* (*)(const MObject&, int, const MString&, std::uint64_t,
                                       std::uint64_t);

// The plug-in, loaded once per process and never unloaded: the factory
// records it hands out must stay valid.
inline void* plugin() {
  static void* handle = dlopen(SPLINEEXPORT_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  return handle;
}

inline void* symbol(const char* name) { return plugin() ? dlsym(plugin(), name) : nullptr; }

inline MStatus callEntry(const char* name, const MObject& pluginObject) {
  auto entry = reinterpret_cast<EntryPoint>(symbol(name));
  return entry ? entry(pluginObject) : MStatus(MStatus::kNotFound);
}

// The renderer's plug-in keeps every record address it was given, for the
// life of the process (never destroyed, so the records stay reachable).
inline std::vector<const unsigned char*>& keptRecords() {
  static auto* records = new std::vector<const unsigned char*>;
  return *records;
}

// Runs the command and parses its "%p" result; null on any failure.
inline const unsigned char* runExporterCommand() {
  MString result;
  if (!mayastandin::runCommand("xgmSplineDescriptionExporter", &result)) return nullptr;
  void* address = nullptr;
  if (std::sscanf(result.asChar(), "%p", &address) != 1) return nullptr;
  keptRecords().push_back(static_cast<const unsigned char*>(address));
  return keptRecords().back();
}

inline Factory factoryOf(const unsigned char* record) {
  Factory factory = nullptr;
  std::memcpy(&factory, record + 24, sizeof factory);
  return factory;
}

// Fresh host and renderer state with the plug-in initialised.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mayastandin::reset();
    zephrinstandin::clearCalls();
    xgenstandin::resetLoads();
    ASSERT_NE(plugin(), nullptr) << dlerror();
    pluginObject = mayastandin::createPlugin(SPLINEEXPORT_PLUGIN);
    ASSERT_TRUE(callEntry("initializePlugin", pluginObject));
  }
  void TearDown() override { mayastandin::reset(); }

  VRXCustomDelegate* makeDelegate(const MObject& node, int context = 7,
                                  const char* handle = "desc") {
    const unsigned char* record = runExporterCommand();
    if (!record) return nullptr;
    return factoryOf(record)(node, context, MString(handle), 0x1234, 0x5678);
  }

  MObject pluginObject;
};

// The renderer's host plug-in reaches a delegate's operations by slot
// number; XGenSplinesDelegate::RemoveCallbacks has slot 10. The host
// reaches a command's the same way.
inline void* slot(const void* object, int index) {
  return (*reinterpret_cast<void* const* const*>(object))[index];
}

inline void removeCallbacks(VRXCustomDelegate* delegate) {
  reinterpret_cast<void (*)(VRXCustomDelegate*)>(slot(delegate, 10))(delegate);
}

// One line per recorded call: function, nodes, attribute names, time.
inline std::string summary(const zephrinstandin::Call& c) {
  std::string s = c.function + " " + c.handle;
  if (c.function == "VRXCreate") s += " " + c.type;
  if (c.function == "VRXDeleteAttribute") s += " " + c.name;
  if (c.function == "VRXConnect") s += "." + c.fromAttr + " -> " + c.to + "." + c.toAttr;
  if (c.function == "VRXSetAttributeAtTime") {
    char t[32];
    std::snprintf(t, sizeof t, " @%g", c.time);
    s += t;
  }
  for (std::size_t i = 0; i < c.params.size(); ++i) s += (i ? "," : " ") + c.params[i].name;
  return s;
}

inline std::vector<std::string> callSummaries() {
  std::vector<std::string> lines;
  for (const auto& c : zephrinstandin::calls()) lines.push_back(summary(c));
  return lines;
}

inline const zephrinstandin::Param* findParam(const zephrinstandin::Call& call,
                                              const std::string& name) {
  for (const auto& p : call.params)
    if (p.name == name) return &p;
  return nullptr;
}

// The last call of function on handle that has a parameter named param
// (any call when param is empty), or null.
inline const zephrinstandin::Call* lastCall(const std::string& function,
                                            const std::string& handle,
                                            const std::string& param = "") {
  const zephrinstandin::Call* found = nullptr;
  for (const auto& c : zephrinstandin::calls())
    if (c.function == function && c.handle == handle && (param.empty() || findParam(c, param)))
      found = &c;
  return found;
}

// The calls that export twoCurvesAndAnEmptyBatch() under handle "desc":
// per batch create, shape, connect, optionally delete "N", then the curve
// data, set without a time or at time (e.g. " @2.5").
inline std::vector<std::string> exportCalls(const std::string& time = "", bool normals = true,
                                            bool deleteNormals = false) {
  std::vector<std::string> lines;
  for (const std::string node : {"desc|0", "desc|1"}) {
    lines.push_back("VRXCreate " + node + " curves");
    lines.push_back("VRXSetAttribute " + node + " basis,extrapolate");
    lines.push_back("VRXConnect " + node + ". -> desc.objects");
    if (deleteNormals) lines.push_back("VRXDeleteAttribute " + node + " N");
    lines.push_back(std::string(time.empty() ? "VRXSetAttribute " : "VRXSetAttributeAtTime ") +
                    node + time + (normals ? " nvertices,P,width,N,st" : " nvertices,P,width,st"));
  }
  return lines;
}

// A description node in the stand-in host, with one connected instance,
// its splines in "outRenderData" and normals wanted (faceCamera false).
struct Description {
  explicit Description(const std::vector<splinedata::Batch>& batches) {
    node = mayastandin::createNode("xgmSplineDescription", "description1");
    for (const char* attr : {"outSplineData", "instObjGroups", "width"})
      mayastandin::addAttribute(node, attr);
    // Only the short partial name of this plug reads "osd".
    mayastandin::addAttribute(node, "osd", "outputSplineData");
    mayastandin::setObject(node, "outRenderData",
                           mayastandin::createPluginData(new mayastandin::SplineData(batches)));
    mayastandin::setBool(node, "faceCamera", false);
    shadingGroup = mayastandin::createNode("shadingEngine", "group1");
    mayastandin::addAttribute(shadingGroup, "dagSetMembers");
    mayastandin::connect(node, "instObjGroups[0]", shadingGroup, "dagSetMembers[0]");
  }
  MObject node, shadingGroup;
};

// Two curves in one batch, then an empty batch. Curve 0 has three vertices,
// curve 1 one; the info stride is 3. Only the first vertex of each curve
// carries its patch coordinates; the others hold (9, 9), which must not
// count. A second motion sample differs everywhere and must not be used.
inline std::vector<splinedata::Batch> twoCurvesAndAnEmptyBatch() {
  splinedata::Batch b;
  b.primitiveCount = 2;
  b.vertexCount = 4;
  b.infoStride = 3;
  b.infos = {0, 3, 77, 3, 1, 77};
  splinedata::Sample s;
  s.positions = {0, 0, 0, 1, 0, 0, 1, 2, 0, 5, 5, 5};
  s.widths = {0.1f, 0.2f, 0.3f, 0.4f};
  s.patchUVs = {0.25f, 0.5f, 9, 9, 9, 9, 0.75f, 1.5f};
  s.widthDirections = {0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 1, 0};
  splinedata::Sample later = s;
  for (auto* values : {&later.positions, &later.widths, &later.patchUVs, &later.widthDirections})
    for (float& v : *values) v += 100;
  b.samples = {s, later};
  return {b, splinedata::Batch()};
}

}  // namespace harness
