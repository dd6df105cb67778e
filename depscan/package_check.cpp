#include "package_check.h"

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "dependency_tracker.h"
#include "file_identity.h"
#include "package_folder.h"
#include "package_jobs.h"
#include "packaged_names.h"
#include "produced_textures.h"
#include "rib_source.h"
#include "run_status.h"
#include "stream_rewrite.h"
#include "stream_scans.h"
#include "tool_options.h"

namespace {

std::string InPackage(const ToolOptions& options, const std::string& name) {
  return options.packageDir.empty() ? name : options.packageDir + "/" + name;
}

// A tracker over the stream at path, scanned; null when it cannot be read.
// Without nested streams in the package, their references stay as the shot
// has them, and what they name is no business of the package: they are not
// read then.
std::unique_ptr<DependencyTracker> ScanQuietly(const std::string& path, const ToolOptions& options) {
  auto* source = new RibFromFile(path.c_str(), true);
  if (!source->IsOpen()) {
    delete source;
    return nullptr;
  }
  auto tracker = std::make_unique<DependencyTracker>(source, path.c_str(), options.kindMask);
  tracker->readsNestedStreams = (options.kindMask & Stream) != 0;
  tracker->Scan();
  return tracker;
}

std::set<FileIdentity> IdentitiesOf(DependencyTracker& tracker, DependencyKind kind) {
  std::set<FileIdentity> identities;
  tracker.ForEachSorted(kind, [&](std::string_view path) {
    FileIdentity identity;
    if (IdentifyFile(std::string(path), &identity)) identities.insert(identity);
  });
  return identities;
}

void ReportLack(const std::string& dependency, const std::string& stream) {
  PackageWarning("\n#Not in the package: '%s', needed by '%s'\n\n", dependency.c_str(),
               stream.c_str());
  MarkPackageIncomplete();
}

// Checks one input stream: its packaged copy must reach every dependency
// that the source reaches, as the file the package holds for it.
void CheckStream(DependencyTracker& source, const ToolOptions& options,
                 const ZpHashTable& producedNames) {
  // Read back through the folder that was written, whatever its name
  // leads to now; named as the user named it in messages.
  std::string name = PackagedFileName(source.Name(), options);
  std::string packaged = InPackage(options, name);
  std::unique_ptr<DependencyTracker> found = ScanQuietly(OpenedPackagePath(options, name), options);
  if (!found) {
    PackageWarning("\n#Not in the package: '%s'\n\n", source.Name());
    MarkPackageIncomplete();
    return;
  }
  std::unique_ptr<DependencyTracker> topLevel;
  DependencyTracker* expected = &source;
  if (!found->readsNestedStreams) {
    topLevel = ScanQuietly(source.Name(), options);
    if (!topLevel) return;  // the source went away meanwhile: nothing to compare
    expected = topLevel.get();
  }
  for (DependencyKind kind : {Shader, Texture, Stream, Procedural}) {
    if (!(options.kindMask & kind)) continue;
    std::set<FileIdentity> reached = IdentitiesOf(*found, kind);
    for (const std::string* path = expected->First(kind); !path->empty();
         path = expected->Next()) {
      if (path->find_first_of("/\\") == std::string::npos) continue;  // never copied
      if (kind == Texture && !ProducedTextureName(*path, true, options, producedNames).empty())
        continue;  // rendered by another stream of the package
      std::string packagedName = PackagedName(*path);
      FileIdentity copy;
      bool held = !packagedName.empty() && IdentifyFile(OpenedPackagePath(options, packagedName), &copy);
      // A shrunk texture is whatever texmeld made of it: its presence counts.
      if (held && (reached.count(copy) || (kind == Texture && options.scale < 1.0f))) continue;
      ReportLack(*path, packaged);
    }
  }
}

}  // namespace

void CheckPackage(const std::vector<DependencyTracker*>& trackers, const ToolOptions& options,
                  const ZpHashTable& producedNames) {
  QuietScans quiet;
  // Each input stream is checked on its own, its reports in input order.
  RunPackageJobs(trackers.size(), StreamScans::AvailableThreads(),
                 [&](size_t i) { CheckStream(*trackers[i], options, producedNames); });
}
