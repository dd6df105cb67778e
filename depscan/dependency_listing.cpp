#include "dependency_listing.h"

#include <cstdio>

#include "dependency_tracker.h"

void PrintTrackerListing(DependencyTracker& tracker, uint32_t kindMask) {
  for (uint32_t bit = DependencyKind::Shader; bit <= DependencyKind::MissingProcedural;
       bit <<= 1) {
    if (!(kindMask & bit)) continue;
    DependencyKind kind = static_cast<DependencyKind>(bit);
    const char* prefix = DependencyKindPrefix(kind);
    for (std::string_view path : tracker.SortedKeys(kind)) {
      std::fputs(prefix, stdout);
      std::putchar(' ');
      std::fwrite(path.data(), 1, path.size(), stdout);
      std::putchar('\n');
    }
  }
}
