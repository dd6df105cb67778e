#include "vrx_binding.h"

#include <cstdlib>

namespace VRX {

CAPI::~CAPI() = default;

LinkedAPI& LinkedAPI::Instance() {
  static LinkedAPI instance;
  return instance;
}

LinkedAPI::~LinkedAPI() = default;

int LinkedAPI::VRXBegin(int nparams, VRXParam* params) { return ::VRXBegin(nparams, params); }

void LinkedAPI::VRXEnd(int context) { ::VRXEnd(context); }

void LinkedAPI::VRXCreate(int context, const char* handle, const char* type, int nparams,
                          VRXParam* params) {
  ::VRXCreate(context, handle, type, nparams, params);
}

void LinkedAPI::VRXDelete(int context, const char* handle, int nparams, VRXParam* params) {
  ::VRXDelete(context, handle, nparams, params);
}

void LinkedAPI::VRXSetAttribute(int context, const char* handle, int nparams, VRXParam* params) {
  ::VRXSetAttribute(context, handle, nparams, params);
}

void LinkedAPI::VRXSetAttributeAtTime(int context, const char* handle, double time, int nparams,
                                      VRXParam* params) {
  ::VRXSetAttributeAtTime(context, handle, time, nparams, params);
}

void LinkedAPI::VRXDeleteAttribute(int context, const char* handle, const char* name) {
  ::VRXDeleteAttribute(context, handle, name);
}

void LinkedAPI::VRXConnect(int context, const char* from, const char* fromAttr, const char* to,
                           const char* toAttr, int nparams, VRXParam* params) {
  ::VRXConnect(context, from, fromAttr, to, toAttr, nparams, params);
}

void LinkedAPI::VRXDisconnect(int context, const char* from, const char* fromAttr,
                              const char* to, const char* toAttr) {
  ::VRXDisconnect(context, from, fromAttr, to, toAttr);
}

void LinkedAPI::VRXEvaluate(int context, int nparams, VRXParam* params) {
  ::VRXEvaluate(context, nparams, params);
}

void LinkedAPI::VRXRenderControl(int context, int nparams, VRXParam* params) {
  ::VRXRenderControl(context, nparams, params);
}

ArgBase::~ArgBase() { delete[] buffer; }

void CStringPArg::FillParam(VRXParam* out) const {
  *out = VRXParam{name, &value, kVRXString, 0, 1, 0};
}

void IntegerArg::FillParam(VRXParam* out) const {
  *out = VRXParam{name, &value, kVRXInteger, 0, 1, 0};
}

Argument::Argument(const char* name, std::int32_t type, std::int32_t arraylength,
                   std::uint64_t count, std::int32_t flags, void* block)
    : ArgBase(name), param{name, block, type, arraylength, count, flags}, block(block) {}

Argument::~Argument() { std::free(block); }

void Argument::FillParam(VRXParam* out) const { *out = param; }

std::vector<VRXParam> ArgList::Fill() const {
  std::vector<VRXParam> params(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) args[i]->FillParam(&params[i]);
  return params;
}

}  // namespace VRX
