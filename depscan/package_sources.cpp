#include "package_sources.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <unordered_map>
#include <utility>

#include "dependency_tracker.h"
#include "file_identity.h"
#include "file_utils.h"
#include "package_jobs.h"
#include "path_strings.h"
#include "tool_options.h"
#include "packaged_names.h"

namespace {

std::map<FileIdentity, std::string>& SourceIndex() {
  static std::map<FileIdentity, std::string> index;
  return index;
}

bool Identify(const char* path, FileIdentity* identity) { return IdentifyFile(path, identity); }

}  // namespace

void IndexPackageSources() {
  std::map<FileIdentity, std::string>& index = SourceIndex();
  index.clear();
  ZpHashTable::Iterator it = {&PackagedNameTable, 0, nullptr, nullptr};
  it.current = PackagedNameTable.Next(&it.bucket, &it.next);
  while (it.current) {
    const char* path = static_cast<const char*>(it.Key());
    FileIdentity identity;
    if (Identify(path, &identity)) index.emplace(identity, path);
    it.current = PackagedNameTable.Next(&it.bucket, &it.next);
  }
}

bool IsSameFile(const char* a, const char* b) {
  FileIdentity first, second;
  return Identify(a, &first) && Identify(b, &second) && first == second;
}

bool MayWritePackageFile(const std::string& source, const std::string& destination) {
  return MayWritePackageFile(source, destination, destination);
}

bool MayWritePackageFile(const std::string& source, const std::string& destination,
                         const std::string& where) {
  if (IsSameFile(source.c_str(), where.c_str())) {
    PackageWarning("\n#Not writing '%s' as '%s': they are the same file\n\n",
                 source.c_str(), destination.c_str());
    return false;
  }
  FileIdentity identity;
  if (!Identify(where.c_str(), &identity)) return true;
  auto found = SourceIndex().find(identity);
  if (found == SourceIndex().end()) return true;
  PackageWarning("\n#Not writing '%s' as '%s': that would overwrite '%s'\n\n",
               source.c_str(), destination.c_str(), found->second.c_str());
  return false;
}

namespace {

// Where paths really lie, their folders resolved once each.
class RealPlaces {
 public:
  std::string Of(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return ZpRealPath(path);
    std::string folder = ZpDirName(path);
    auto known = folders_.find(folder);
    if (known == folders_.end()) known = folders_.emplace(folder, ZpRealPath(folder)).first;
    if (known->second.empty()) return std::string();
    return known->second + (known->second == "/" ? "" : "/") + ZpBaseName(path);
  }

 private:
  std::unordered_map<std::string, std::string> folders_;
};

bool Inside(const std::string& path, const std::string& folder) {
  return !path.empty() && path.compare(0, folder.size(), folder) == 0 &&
         (folder == "/" || path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

bool PackageHoldsASource(const std::vector<DependencyTracker*>& trackers,
                         const ToolOptions& options) {
  std::string package = ZpRealPath(options.packageDir.empty() ? "." : options.packageDir);
  if (package.empty()) return false;
  RealPlaces places;
  auto holds = [&](const std::string& path) {
    if (!Inside(places.Of(path), package)) return false;
    std::fprintf(stderr, "source inside the package directory: %s\n", path.c_str());
    return true;
  };
  for (DependencyTracker* tracker : trackers) {
    if (holds(tracker->Name())) return true;
    for (DependencyKind kind : {Shader, Texture, Stream, Procedural})
      for (const std::string* path = tracker->First(kind); !path->empty(); path = tracker->Next())
        if (holds(*path)) return true;
  }
  return false;
}
