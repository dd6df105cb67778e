// Test-facing side of the XGen stand-in: what the last load was given.
#pragma once

#include <cstddef>

namespace xgenstandin {

struct LoadRecord {
  int loads = 0;  // load calls since the last reset
  float fps = 0.0f;
  float frame = 0.0f;
  std::size_t size = 0;
  bool loaded = false;       // the last load understood its bytes
  bool scriptRun = false;    // executeScript followed the last load
};

const LoadRecord& lastLoad();
void resetLoads();

}  // namespace xgenstandin
