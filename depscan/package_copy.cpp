#include "package_copy.h"

#include <cstdio>
#include <functional>
#include <future>
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
  PackageWarning("\n#Unresolved resource: '%s' \n\n", path.c_str());
}

// A nested stream that cannot be written has no packaged name: nothing in
// the package names it, and the package is incomplete without it.
void ReportLeftOut(const std::string& path) {
  PackageWarning("\n#Could not read '%s' through vornex (vornex was not found): left out of "
                 "the package\n\n", path.c_str());
  MarkPackageIncomplete();
}

void Echo(const std::string& path) { PackageNote("%s\n", path.c_str()); }

// The steps of one kind's copy loop, in the loop's order: what is decided
// from the names (which file goes where, what is left out or missing) is
// decided as the loop goes, on one thread; the copies then run side by
// side as jobs, and each step's messages come in the loop's order.
class KindCopies {
 public:
  KindCopies(const ToolOptions& options, const ZpHashTable& producedNames)
      : options_(options), producedNames_(producedNames) {}

  void Add(DependencyKind kind, const std::string& path, std::vector<std::string>& nestedStreams);

  void Run() {
    // A folder that is not open yet would be opened by each copy at once.
    unsigned threads = RunPackageIsOpen(options_) ? StreamScans::AvailableThreads() : 1;
    RunPackageJobs(steps_.size(), threads, [this](size_t i) { steps_[i](); });
    steps_.clear();
    copying_.clear();
  }

 private:
  void AddCopy(const std::string& path, const std::string& name, const std::string& destination,
               float scale);

  const ToolOptions& options_;
  const ZpHashTable& producedNames_;
  std::vector<std::function<void()>> steps_;
  // The copies of this kind by destination, for another name of the same
  // file, which is echoed when that copy succeeded.
  std::unordered_map<std::string, std::shared_future<bool>> copying_;
};

void KindCopies::Add(DependencyKind kind, const std::string& path,
                     std::vector<std::string>& nestedStreams) {
  if (path.find_first_of("/\\") == std::string::npos) return;
  std::string name = PackagedName(path);
  std::string destination = options_.packageDir + "/" + name;
  bool verbose = options_.verbose;
  switch (kind) {
    case Shader:
    case Procedural:
    case Texture: {
      if (kind == Texture && !ProducedTextureName(path, true, options_, producedNames_).empty())
        return;
      return AddCopy(path, name, destination, kind == Texture ? options_.scale : 1.0f);
    }
    case Stream:
      if (name.empty()) {
        steps_.push_back([path] { ReportLeftOut(path); });
        return;
      }
      nestedStreams.push_back(path);
      if (verbose) steps_.push_back([path] { Echo(path); });
      return;
    case MissingTexture:
      if (!ProducedTextureName(path, false, options_, producedNames_).empty()) return;
      steps_.push_back([path] { ReportUnresolved(path); });
      return;
    default:
      steps_.push_back([path] { ReportUnresolved(path); });
      return;
  }
}

void KindCopies::AddCopy(const std::string& path, const std::string& name,
                         const std::string& destination, float scale) {
  bool verbose = options_.verbose;
  auto [done, first] = Written().try_emplace(destination, false);
  if (!first) {  // another name of a file copied already
    if (!verbose) return;
    auto copy = copying_.find(destination);
    if (copy == copying_.end()) {
      if (done->second) steps_.push_back([path] { Echo(path); });
      return;
    }
    // That copy's job began before this one (jobs begin in order), so
    // waiting for it cannot hold up the run.
    std::shared_future<bool> copied = copy->second;
    steps_.push_back([path, copied] {
      if (copied.get()) Echo(path);
    });
    return;
  }
  auto result = std::make_shared<std::promise<bool>>();
  copying_.emplace(destination, result->get_future().share());
  // The map's entries stay where they are while the jobs run: nothing is
  // added to it until they have ended.
  bool* written = &done->second;
  const ToolOptions& options = options_;
  steps_.push_back([path, name, scale, verbose, written, result, &options] {
    bool copied = CopyIntoRunPackage(path, name, options, scale);
    *written = copied;
    result->set_value(copied);
    if (copied && scale >= 1.0f && verbose) Echo(path);
  });
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
  KindCopies copies(options, producedNames);
  for (DependencyKind kind : copyOrder) {
    if (!(options.kindMask & kind)) continue;
    std::vector<std::string> nestedStreams;
    for (const std::string* path = tracker.First(kind); !path->empty(); path = tracker.Next())
      copies.Add(kind, *path, nestedStreams);
    copies.Run();
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
