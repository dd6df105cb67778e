#include "package_copy.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dependency_tracker.h"
#include "file_utils.h"
#include "package_check.h"
#include "package_sources.h"
#include "package_folder.h"
#include "package_jobs.h"
#include "packaged_names.h"
#include "produced_textures.h"
#include "relative_path.h"
#include "run_status.h"
#include "stream_rewrite.h"
#include "stream_scans.h"
#include "tool_options.h"

namespace {

std::unordered_map<std::string, bool>& Written() { return PackageWrites(); }

std::string InPackage(const ToolOptions& options, const std::string& name) {
  return options.packageDir.empty() ? name : options.packageDir + "/" + name;
}

void ReportUnresolved(const std::string& path) {
  std::fprintf(stderr, "\n#Unresolved resource: '%s' \n\n", path.c_str());
}

// A nested stream that cannot be written has no packaged name: nothing in
// the package names it, and the package is incomplete without it.
void ReportLeftOut(const std::string& path) {
  std::fprintf(stderr, "\n#Could not read '%s' through vornex (vornex was not found): left out of "
               "the package\n\n", path.c_str());
  MarkPackageIncomplete();
}

void CopyPath(DependencyKind kind, const std::string& path, const ToolOptions& options,
              const ZpHashTable& producedNames, std::vector<std::string>& nestedStreams) {
  if (path.find_first_of("/\\") == std::string::npos) return;
  std::string name = PackagedName(path);
  std::string destination = options.packageDir + "/" + name;
  switch (kind) {
    case Shader:
    case Procedural:
    case Texture: {
      if (kind == Texture && !ProducedTextureName(path, true, options, producedNames).empty())
        return;
      auto [done, first] = Written().try_emplace(destination, false);
      if (!first) {  // another name of a file copied already
        if (done->second && options.verbose) std::puts(path.c_str());
        return;
      }
      float scale = kind == Texture ? options.scale : 1.0f;
      done->second = CopyIntoRunPackage(path, name, options, scale);
      if (done->second && scale >= 1.0f && options.verbose) std::puts(path.c_str());
      return;
    }
    case Stream:
      if (name.empty()) return ReportLeftOut(path);
      nestedStreams.push_back(path);
      if (options.verbose) std::puts(path.c_str());
      return;
    case MissingTexture:
      if (!ProducedTextureName(path, false, options, producedNames).empty()) return;
      return ReportUnresolved(path);
    default:
      return ReportUnresolved(path);
  }
}

// Each copy once, under a route that the tracker read, so that the copy's
// strings spell the names the tracker recorded.
void RewriteNestedStreams(DependencyTracker& tracker, ToolOptions& options,
                          const std::vector<std::string>& nestedStreams,
                          const ZpHashTable& producedNames) {
  std::vector<std::string> destinations;
  std::unordered_map<std::string, std::string> routeOf;
  for (const std::string& path : nestedStreams) {
    std::string destination = InPackage(options, PackagedName(path));
    if (Written().count(destination)) continue;
    auto [chosen, first] = routeOf.try_emplace(destination, path);
    if (first)
      destinations.push_back(destination);
    else if (!tracker.readStreams.Contains(chosen->second) && tracker.readStreams.Contains(path))
      chosen->second = path;
  }
  bool verbose = options.verbose;
  options.verbose = false;
  for (const std::string& destination : destinations) {
    Written()[destination] = true;
    RewriteStream(tracker, routeOf[destination].c_str(), options, producedNames);
  }
  options.verbose = verbose;
}

}  // namespace

void CopyTrackerFiles(DependencyTracker& tracker, ToolOptions& options,
                      const ZpHashTable& producedNames) {
  if (options.verbose) std::puts("\n#Copying the following files:\n");
  const DependencyKind copyOrder[] = {Shader,        Texture,        Stream,        Procedural,
                                      MissingShader, MissingTexture, MissingStream,
                                      MissingProcedural};
  for (DependencyKind kind : copyOrder) {
    if (!(options.kindMask & kind)) continue;
    std::vector<std::string> nestedStreams;
    for (const std::string* path = tracker.First(kind); !path->empty(); path = tracker.Next())
      CopyPath(kind, *path, options, producedNames, nestedStreams);
    if (kind == Stream) RewriteNestedStreams(tracker, options, nestedStreams, producedNames);
  }
}

void BuildPackage(ToolOptions& options, const std::vector<DependencyTracker*>& trackers,
                  const ZpHashTable& producedNames) {
  // Opened once, before anything is written: every file goes into this
  // folder, also when its name is given to another one meanwhile.
  if (!OpenRunPackage(options)) {
    MarkPackageIncomplete();
    return;
  }
  NamePackageContents(trackers, options);
  IndexPackageSources();
  // Each input stream is one job of its own (its tracker is touched by
  // that job alone); its messages come in input order.
  std::vector<DependencyTracker*> streams;
  for (DependencyTracker* tracker : trackers) {
    std::string destination = InPackage(options, PackagedFileName(tracker->Name(), options));
    if (Written().try_emplace(destination, true).second) streams.push_back(tracker);
  }
  RunPackageJobs(streams.size(), StreamScans::AvailableThreads(), [&](size_t i) {
    RewriteStream(*streams[i], streams[i]->Name(), options, producedNames);
  });
  for (DependencyTracker* tracker : trackers) CopyTrackerFiles(*tracker, options, producedNames);
  CheckPackage(trackers, options, producedNames);
  CloseRunPackage();
}
