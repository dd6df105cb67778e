// Stand-in for the host's callback registry base.
#pragma once

#include <cstdint>

#include <maya/MStatus.h>

using MCallbackId = std::uint64_t;

class MMessage {
 public:
  // kFailure for an id that is not registered.
  static MStatus removeCallback(MCallbackId id);
};
