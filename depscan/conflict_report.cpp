#include "conflict_report.h"

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "dependency_tracker.h"
#include "file_identity.h"
#include "hash_table.h"
#include "relative_path.h"

namespace {

// The files already met under one name: a later spelling of one of them is
// no conflict. A file that cannot be examined counts as another file.
class FilesOfName {
 public:
  explicit FilesOfName(const char* firstPath) { Take(firstPath); }
  // False when path names one of the files met already; else notes it.
  bool Take(const char* path) {
    FileIdentity identity;
    if (!IdentifyFile(path, &identity)) return true;
    for (const FileIdentity& known : files_)
      if (known == identity) return false;
    files_.push_back(identity);
    return true;
  }

 private:
  std::vector<FileIdentity> files_;
};

}  // namespace

void ReportConflicts(DependencyTracker& tracker, DependencyKind kind,
                     const ToolOptions& options, FILE* out) {
  const char* prefix = DependencyKindPrefix(kind);
  // Name -> the first path met with it (the list entry's text, which stays
  // valid while this kind's list is walked).
  ZpTypedHash<const char> firstPathByName(32, 0.75f);
  ZpTypedHash<const char> reportedNames(32, 0.75f);
  // Only names met more than once are looked up on disk.
  std::unordered_map<std::string, FilesOfName> filesByName;
  for (const std::string* path = tracker.First(kind); !path->empty(); path = tracker.Next()) {
    std::string name = SplitRelativePath(options, *path);
    uint64_t firstPath = 0;
    if (!firstPathByName.Find(name.c_str(), &firstPath)) {
      firstPathByName.Insert(name.c_str(), reinterpret_cast<uintptr_t>(path->c_str()));
      continue;
    }
    const char* first = reinterpret_cast<const char*>(firstPath);
    if (!filesByName.try_emplace(name, first).first->second.Take(path->c_str())) continue;
    uint64_t unused = 0;
    if (!reportedNames.Find(name.c_str(), &unused)) {
      reportedNames.Insert(name.c_str(), 0);
      std::fprintf(out, "[%s] %s\n", prefix, first);
    }
    std::fprintf(out, "%s %s\n", prefix, path->c_str());
  }
}
