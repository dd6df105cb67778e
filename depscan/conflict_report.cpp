#include "conflict_report.h"

#include <cstdio>

#include "dependency_tracker.h"
#include "hash_table.h"
#include "relative_path.h"

void ReportConflicts(DependencyTracker& tracker, DependencyKind kind,
                     const ToolOptions& options) {
  const char* prefix = DependencyKindPrefix(kind);
  // Name -> the first path met with it (the list entry's text, which stays
  // valid while this kind's list is walked).
  ZpTypedHash<const char> firstPathByName(32, 0.75f);
  ZpTypedHash<const char> reportedNames(32, 0.75f);
  for (const std::string* path = tracker.First(kind); !path->empty(); path = tracker.Next()) {
    std::string name = SplitRelativePath(options, *path);
    uint64_t firstPath = 0;
    if (!firstPathByName.Find(name.c_str(), &firstPath)) {
      firstPathByName.Insert(name.c_str(), reinterpret_cast<uintptr_t>(path->c_str()));
      continue;
    }
    uint64_t unused = 0;
    if (!reportedNames.Find(name.c_str(), &unused)) {
      reportedNames.Insert(name.c_str(), 0);
      std::printf("[%s] %s\n", prefix, reinterpret_cast<const char*>(firstPath));
    }
    std::printf("%s %s\n", prefix, path->c_str());
  }
}
