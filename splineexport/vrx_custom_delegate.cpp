#include "vrx_custom_delegate.h"

VRXCustomDelegate::VRXCustomDelegate(const MObject& node, int context, const MString& handle,
                                     std::uint64_t factoryValue)
    : node(node), context(context), handle(handle), factoryValue(factoryValue) {}

VRXCustomDelegate::~VRXCustomDelegate() = default;
void VRXCustomDelegate::Create() {}
void VRXCustomDelegate::PrepareUpdate() {}
void VRXCustomDelegate::SetAttributes(bool, double) {}
void VRXCustomDelegate::FinishUpdate() {}
void VRXCustomDelegate::Reserved() {}
bool VRXCustomDelegate::IsTimeDependent() { return false; }
bool VRXCustomDelegate::RegisterCallbacks() { return false; }
void VRXCustomDelegate::SetSettingsNode(const MObject&) {}
