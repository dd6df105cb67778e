// The renderer library's VRX functions, recording each call. The parameter
// record layout is the library's: name, data, type, array length, count,
// flags, 40 bytes each.
#include <cstddef>
#include <cstdint>

#include "zephrin_standin.h"

namespace {

struct ParamRecord {
  const char* name;
  const void* data;
  std::int32_t type;
  std::int32_t arraylength;
  std::uint64_t count;
  std::int32_t flags;
};
static_assert(sizeof(ParamRecord) == 40, "parameter records are 40 bytes");

std::vector<zephrinstandin::Call>& log() {
  static std::vector<zephrinstandin::Call> calls;
  return calls;
}

std::string text(const char* s) { return s ? s : "<null>"; }

// Number of scalars per element for the types whose data is copied out.
std::uint64_t valuesPerElement(int type) {
  switch (type) {
    case 1: case 2: case 3: return 1;
    case 5: case 7: return 3;
  }
  return 0;
}

zephrinstandin::Param copyOut(const ParamRecord& r) {
  zephrinstandin::Param p;
  p.name = text(r.name);
  p.type = r.type;
  p.arraylength = r.arraylength;
  p.count = r.count;
  p.flags = r.flags;
  std::uint64_t n = r.count * valuesPerElement(r.type) * (r.arraylength > 0 ? r.arraylength : 1);
  if (!r.data) return p;
  for (std::uint64_t i = 0; i < n; ++i) {
    if (r.type == 2)
      p.ints.push_back(static_cast<const std::int32_t*>(r.data)[i]);
    else if (r.type == 3)
      p.strings.push_back(text(static_cast<const char* const*>(r.data)[i]));
    else
      p.floats.push_back(static_cast<const float*>(r.data)[i]);
  }
  return p;
}

zephrinstandin::Call& record(const char* function, int context, int nparams,
                             const void* params) {
  zephrinstandin::Call call;
  call.function = function;
  call.context = context;
  call.nparams = nparams;
  const auto* records = static_cast<const ParamRecord*>(params);
  for (int i = 0; records && i < nparams; ++i) call.params.push_back(copyOut(records[i]));
  log().push_back(std::move(call));
  return log().back();
}

int nextContext = 1;

}  // namespace

namespace zephrinstandin {

const std::vector<Call>& calls() { return log(); }
void clearCalls() { log().clear(); }

}  // namespace zephrinstandin

extern "C" {

int VRXBegin(int nparams, void* params) {
  int context = nextContext++;
  record("VRXBegin", context, nparams, params);
  return context;
}

void VRXEnd(int context) { record("VRXEnd", context, 0, nullptr); }

void VRXCreate(int context, const char* handle, const char* type, int nparams, void* params) {
  auto& call = record("VRXCreate", context, nparams, params);
  call.handle = text(handle);
  call.type = text(type);
}

void VRXDelete(int context, const char* handle, int nparams, void* params) {
  record("VRXDelete", context, nparams, params).handle = text(handle);
}

void VRXSetAttribute(int context, const char* handle, int nparams, void* params) {
  record("VRXSetAttribute", context, nparams, params).handle = text(handle);
}

void VRXSetAttributeAtTime(int context, const char* handle, double time, int nparams,
                           void* params) {
  auto& call = record("VRXSetAttributeAtTime", context, nparams, params);
  call.handle = text(handle);
  call.time = time;
}

void VRXDeleteAttribute(int context, const char* handle, const char* name) {
  auto& call = record("VRXDeleteAttribute", context, 0, nullptr);
  call.handle = text(handle);
  call.name = text(name);
}

void VRXConnect(int context, const char* from, const char* fromAttr, const char* to,
                const char* toAttr, int nparams, void* params) {
  auto& call = record("VRXConnect", context, nparams, params);
  call.handle = text(from);
  call.fromAttr = text(fromAttr);
  call.to = text(to);
  call.toAttr = text(toAttr);
}

void VRXDisconnect(int context, const char* from, const char* fromAttr, const char* to,
                   const char* toAttr) {
  auto& call = record("VRXDisconnect", context, 0, nullptr);
  call.handle = text(from);
  call.fromAttr = text(fromAttr);
  call.to = text(to);
  call.toAttr = text(toAttr);
}

void VRXEvaluate(int context, int nparams, void* params) {
  record("VRXEvaluate", context, nparams, params);
}

void VRXRenderControl(int context, int nparams, void* params) {
  record("VRXRenderControl", context, nparams, params);
}

}  // extern "C"
