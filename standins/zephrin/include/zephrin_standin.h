// Test-facing side of the renderer library stand-in: every VRX call made,
// with its arguments and parameter records copied out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zephrinstandin {

struct Param {
  std::string name;
  int type = 0;
  int arraylength = 0;
  std::uint64_t count = 0;
  int flags = 0;
  // The values, by type: 1, 5, 7 floats; 2 integers; 3 strings.
  std::vector<float> floats;
  std::vector<std::int32_t> ints;
  std::vector<std::string> strings;
};

struct Call {
  std::string function;  // "VRXCreate", "VRXSetAttribute", ...
  int context = 0;
  std::string handle;    // also the "from" node of VRXConnect and VRXDisconnect
  std::string type;      // VRXCreate
  std::string name;      // VRXDeleteAttribute
  std::string fromAttr, to, toAttr;
  double time = 0.0;     // VRXSetAttributeAtTime
  int nparams = 0;
  std::vector<Param> params;
};

const std::vector<Call>& calls();
void clearCalls();

}  // namespace zephrinstandin
