#include "xgen_splines_delegate.h"

#include <XGen/XgSplineAPI.h>
#include <maya/MFnDependencyNode.h>
#include <maya/MFnPluginData.h>
#include <maya/MPlug.h>
#include <maya/MPxData.h>
#include <maya/MTime.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "curve_batch.h"
#include "description_attributes.h"
#include "vrx_binding.h"

namespace {

// Zeroed so that vertices the curve table leaves out are never garbage.
template <typename T>
T* zeroedArray(std::uint64_t n) {
  return static_cast<T*>(std::calloc(n ? n : 1, sizeof(T)));
}

BatchView viewOf(const XGenSplineAPI::XgItSpline& it) {
  BatchView v;
  v.curves = it.primitiveCount();
  v.vertices = it.vertexCount();
  v.infos = it.primitiveInfos();
  v.stride = it.primitiveInfoStride();
  v.positions = it.positions(0);
  v.widths = it.width(0);
  v.patchUVs = it.patchUVs(0);
  v.widthDirections = it.widthDirection(0);
  return v;
}

// The description's plug-in data holding its splines, or null.
MPxData* splineData(MFnDependencyNode& description) {
  MStatus status;
  MPlug plug = description.findPlug("outRenderData", true, &status);
  if (!status || plug.isNull()) return nullptr;
  MObject object = plug.asMObject(&status);
  if (!status) return nullptr;
  MFnPluginData data(object, &status);
  if (!status) return nullptr;
  MPxData* result = data.data(&status);
  return status ? result : nullptr;
}

}  // namespace

XGenSplinesDelegate::XGenSplinesDelegate(const MObject& node, int context, const MString& handle,
                                         std::uint64_t factoryValue)
    : VRXCustomDelegate(node, context, handle, factoryValue) {}

XGenSplinesDelegate::~XGenSplinesDelegate() { RemoveCallbacks(); }

void XGenSplinesDelegate::Create() {
  // The transform goes straight to the library, not through the binding.
  ::VRXCreate(context, handle.asChar(), "transform", 0, nullptr);
}

void XGenSplinesDelegate::PrepareUpdate() {}
void XGenSplinesDelegate::FinishUpdate() {}
bool XGenSplinesDelegate::IsTimeDependent() { return true; }

void XGenSplinesDelegate::SetSettingsNode(const MObject& settings) { settingsNode = settings; }

bool XGenSplinesDelegate::UseSmoothCurves() const {
  bool smooth = getBoolAttribute(node, "_zephrin_smooth_curves", false);
  const MObject& settings = settingsNode.objectRef();
  if (settings.isNull()) return smooth;
  if (!getBoolAttribute(settings, "enableSmoothCurves", false)) return smooth;
  return getBoolAttribute(settings, "smoothCurves", smooth);
}

void XGenSplinesDelegate::SetAttributes(bool noTime, double time) {
  if (!shouldExport) return;
  MStatus status;
  MFnDependencyNode description(node, &status);
  if (!status) return;
  if (feedsModifierGuide(description)) return;

  MPlug instances = description.findPlug("instObjGroups", true, &status);
  if (!status || instances.isNull()) return;
  unsigned int connected = instances.numConnectedElements(&status);
  if (!status) return;
  if (connected == 0) {
    shouldExport = false;
    return;
  }

  MPxData* data = splineData(description);
  if (!data) return;
  bool smooth = UseSmoothCurves();
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  if (!data->writeBinary(stream)) return;
  int length = static_cast<int>(stream.str().size());
  if (length <= 0) return;

  double fps = MTime(1.0, MTime::kSeconds).as(MTime::uiUnit());
  XGenSplineAPI::XgFnSpline splines;
  splines.setFps(static_cast<float>(fps));
  splines.load(stream, static_cast<std::size_t>(length), static_cast<float>(time));
  splines.executeScript();

  bool faceCamera = getBoolAttribute(node, "faceCamera", true);
  unsigned int number = 0;
  for (XGenSplineAPI::XgItSpline it = splines.iterator(); !it.isDone(); it.next(), ++number)
    ExportBatch(viewOf(it), number, smooth, faceCamera, noTime, time);
  exported = true;
  normalsExported = !faceCamera;
}

void XGenSplinesDelegate::ExportBatch(const BatchView& batch, unsigned int number, bool smooth,
                                      bool faceCamera, bool noTime, double time) {
  // A batch whose curve table points outside its own arrays is not written.
  if (!CurveTableFits(batch, !faceCamera)) return;

  auto* nvertices = zeroedArray<std::uint32_t>(batch.curves);
  auto* P = zeroedArray<float>(3ull * batch.vertices);
  auto* width = zeroedArray<float>(batch.vertices);
  float* N = faceCamera ? nullptr : zeroedArray<float>(3ull * batch.vertices);
  auto* st = zeroedArray<float>(3ull * batch.curves);
  VRX::ArgList list;  // owns the arrays from here on
  list.Add(new VRX::Argument("nvertices", kVRXInteger, 0, batch.curves, 0, nvertices));
  list.Add(new VRX::Argument("P", kVRXPoint, 0, batch.vertices, 0, P));
  list.Add(new VRX::Argument("width", kVRXFloat, 0, batch.vertices, 0, width));
  if (!faceCamera) list.Add(new VRX::Argument("N", kVRXNormal, 0, batch.vertices, 0, N));
  list.Add(new VRX::Argument("st", kVRXFloat, 3, batch.curves, 3, st));
  if (!nvertices || !P || !width || !st || (!faceCamera && !N)) return;
  FillCurves(batch, nvertices, P, width, N, st);

  const std::string name = (handle + "|" + static_cast<double>(number)).asChar();
  VRX::LinkedAPI& vrx = VRX::LinkedAPI::Instance();
  vrx.VRXCreate(context, name.c_str(), "curves", 0, nullptr);
  const char* basis = smooth ? "catmull-rom" : "linear";
  const std::int32_t extrapolate = 1;
  VRXParam shape[2] = {{"basis", &basis, kVRXString, 0, 1, 0},
                       {"extrapolate", &extrapolate, kVRXInteger, 0, 1, 0}};
  vrx.VRXSetAttribute(context, name.c_str(), 2, shape);
  vrx.VRXConnect(context, name.c_str(), "", handle.asChar(), "objects", 0, nullptr);
  if (faceCamera && normalsExported) vrx.VRXDeleteAttribute(context, name.c_str(), "N");

  std::vector<VRXParam> params = list.Fill();
  if (noTime)
    vrx.VRXSetAttribute(context, name.c_str(), list.Count(), params.data());
  else
    vrx.VRXSetAttributeAtTime(context, name.c_str(), time, list.Count(), params.data());
}
