#include "packaged_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dependency_tracker.h"
#include "relative_path.h"
#include "tool_options.h"

ZpTypedHash<const char>& InitPackagedNameTable() {
  static ZpTypedHash<const char> table(32, 0.75f);
  return table;
}

ZpTypedHash<const char>& PackagedNameTable = InitPackagedNameTable();

namespace {

constexpr size_t kPrefixLength = sizeof kPackageDirPrefix - 1;

uint64_t StringValue(const std::string& text) {
  return reinterpret_cast<uint64_t>(strdup(text.c_str()));
}

bool HasSeparator(const std::string& path) {
  return path.find_first_of("/\\") != std::string::npos;
}

bool Holds(const ZpHashTable& set, const std::string& key) {
  uint64_t unused;
  return set.Find(key.c_str(), uint32_t(key.size() + 1), &unused);
}

void Enter(ZpHashTable& set, const std::string& key) {
  set.Insert(key.c_str(), uint32_t(key.size() + 1), 0);
}

bool HasParentStep(const std::string& name) {
  for (size_t start = 0;;) {
    size_t end = name.find_first_of("/\\", start);
    if (name.compare(start, end == std::string::npos ? end : end - start, "..") == 0) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

// The relative name, unless it climbs out of its root ("-r /shot" with
// /shot/../tex/a.tif): the copy would land outside the package, so such a
// path is named by its file name alone.
std::string NameInPackage(const ToolOptions& options, const std::string& path) {
  std::string name = SplitRelativePath(options, path);
  if (!HasParentStep(name)) return name;
  return path.substr(path.find_last_of("/\\") + 1);
}

// Takes the path's relative name when free, else queues it for renaming.
void Claim(const std::string& path, const ToolOptions& options,
           ZpTypedHash<const char>& candidateNames, ZpHashTable& handledPaths,
           std::vector<std::string>& clashingPaths) {
  if (Holds(handledPaths, path)) return;
  Enter(handledPaths, path);
  std::string candidate = kPackageDirPrefix + NameInPackage(options, path);
  uint64_t unused;
  if (candidateNames.Find(candidate.c_str(), &unused))
    clashingPaths.push_back(path);
  else
    candidateNames.Insert(candidate.c_str(), StringValue(path));
}

void Rename(const std::string& path, const ToolOptions& options,
            ZpTypedHash<const char>& candidateNames) {
  std::string name = NameInPackage(options, path);
  size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  uint64_t unused;
  for (int n = 1;; ++n) {
    std::string candidate = kPackageDirPrefix + stem + "_" + std::to_string(n) + extension;
    if (!candidateNames.Find(candidate.c_str(), &unused)) {
      candidateNames.Insert(candidate.c_str(), StringValue(path));
      return;
    }
  }
}

void PublishNames(ZpTypedHash<const char>& candidateNames) {
  ZpHashTable::Iterator it = {&candidateNames, 0, nullptr, nullptr};
  it.current = candidateNames.Next(&it.bucket, &it.next);
  while (it.current) {
    const char* reference = static_cast<const char*>(it.Key());
    const char* path = reinterpret_cast<const char*>(it.Value());
    PackagedNameTable.Insert(path, reinterpret_cast<uint64_t>(strdup(reference)));
    it.current = candidateNames.Next(&it.bucket, &it.next);
  }
}

}  // namespace

void AssignPackagedNames(DependencyTracker& tracker, DependencyKind kind,
                         const ToolOptions& options, ZpTypedHash<const char>& candidateNames,
                         ZpHashTable& handledPaths, std::vector<std::string>& clashingPaths) {
  for (const std::string* path = tracker.First(kind); !path->empty(); path = tracker.Next())
    Claim(*path, options, candidateNames, handledPaths, clashingPaths);
}

void NamePackageContents(const std::vector<DependencyTracker*>& trackers,
                         const ToolOptions& options) {
  ZpTypedHash<const char> candidateNames(32, 0.75f);
  ZpHashTable handledPaths(32, 0.75f);
  std::vector<std::string> clashingPaths;
  const DependencyKind namedKinds[] = {Stream, Texture, Shader, Procedural};
  for (DependencyTracker* tracker : trackers)
    for (DependencyKind kind : namedKinds)
      AssignPackagedNames(*tracker, kind, options, candidateNames, handledPaths, clashingPaths);
  // Top-level streams come last, so that they never take a dependency's
  // first-choice name, but still get names of their own: two inputs
  // /a/shot.rib and /b/shot.rib must not overwrite each other.
  for (DependencyTracker* tracker : trackers)
    Claim(tracker->Name(), options, candidateNames, handledPaths, clashingPaths);
  for (const std::string& path : clashingPaths) Rename(path, options, candidateNames);
  PublishNames(candidateNames);
  candidateNames.Clear(true);
  if (!options.verbose) return;
  for (DependencyTracker* tracker : trackers)
    std::printf("\n#Packaging stream '%s' as '%s'\n", tracker->Name(),
                PackagedName(tracker->Name()).c_str());
}

std::string PackagedName(const std::string& path) {
  uint64_t value;
  if (!PackagedNameTable.Find(path.c_str(), &value)) return std::string();
  std::string name = reinterpret_cast<const char*>(value);
  size_t at = name.find(kPackageDirPrefix);
  if (at != std::string::npos) name.erase(at, kPrefixLength);
  return name;
}

void ListChangedFiles(DependencyKind kind, DependencyTracker& tracker, bool verbose,
                      ZpHashTable& changedPaths) {
  for (const std::string* entry = tracker.First(kind); !entry->empty(); entry = tracker.Next()) {
    if (Holds(changedPaths, *entry)) continue;
    bool changes = HasSeparator(*entry);
    uint64_t value;
    if (!changes && PackagedNameTable.Find(entry->c_str(), &value))
      changes = *entry != reinterpret_cast<const char*>(value);
    if (!changes) continue;
    if (verbose) std::printf("%s\n", entry->c_str());
    Enter(changedPaths, *entry);
  }
}
