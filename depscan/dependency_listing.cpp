#include "dependency_listing.h"

#include <cstdio>

#include "dependency_tracker.h"

void PrintTrackerListing(DependencyTracker& tracker, uint32_t kindMask) {
  for (uint32_t bit = DependencyKind::Shader; bit <= DependencyKind::MissingProcedural;
       bit <<= 1) {
    if (!(kindMask & bit)) continue;
    DependencyKind kind = static_cast<DependencyKind>(bit);
    const char* prefix = DependencyKindPrefix(kind);
    for (const std::string* path = tracker.First(kind); !path->empty(); path = tracker.Next())
      std::printf("%s %s\n", prefix, path->c_str());
  }
}
