// Shaders, procedurals and nested streams. A nested stream is read at once,
// into this tracker, as if its requests stood in place of the Evaluate.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "dependency_tracker.h"
#include "env_strings.h"
#include "path_strings.h"

namespace {

constexpr char kShaderSuffix[] = ".oso";

// Tried in this order; the name as it stands comes first.
const char* const kProceduralSuffixes[] = {
    "", ".so", ".dll", ".dso", ".DLL", ".Dll", ".exe", ".EXE", ".lua", ".LUA",
};

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

void DependencyTracker::AddShader(const std::string& value) {
  if (!trackShaders) return;
  std::string path = EndsWith(value, kShaderSuffix) ? value : value + kShaderSuffix;
  if (Disk().Exists(path)) {
    Enter(shaders, path);
    SetResolvedName(path, path);
  } else {
    Enter(missingShaders, path);
  }
}

void DependencyTracker::AddProcedural(const std::string& procedural) {
  for (const char* suffix : kProceduralSuffixes) {
    std::string path = procedural + suffix;
    if (Disk().Exists(path)) {
      Enter(procedurals, path);
      SetResolvedName(procedural, path);
      return;
    }
  }
  Enter(missingProcedurals, procedural);
}

// A nested stream that exists but cannot be read is no dependency found:
// it is reported, and listed as not found.
void DependencyTracker::AddNestedStream(const std::string& path) {
  if (!Records(path)) return;
  StreamRoute route;
  if (!Disk().Exists(path) || !IsReadableStream(path, &route)) {
    Enter(missingStreams, path);
  } else if (AlreadyRead(route) || !readsNestedStreams) {
    RecordFoundStream(path);
  } else if (nestingDepth >= kMaxNestingDepth) {
    ScanMessage("tracwell: nested stream '%s' is not read: more than %zu levels of nesting\n",
                path.c_str(), kMaxNestingDepth);
    RecordFoundStream(path);
  } else {
    ReadNestedStream(path, route);
  }
}

void DependencyTracker::ReadNestedStream(const std::string& path, const StreamRoute& route) {
  // Checked again as it is opened: the file may have been swapped since.
  auto* source = new RibFromFile(path.c_str(), true);
  if (!source->IsRegular()) {
    ScanMessage("tracwell: skipping nested stream '%s': not a regular file\n", path.c_str());
  } else if (!source->IsOpen()) {
    ScanMessage("tracwell: cannot open nested stream '%s' (system error: %s)\n", path.c_str(),
            ZpLastErrorText());
  }
  if (!source->IsOpen()) {
    delete source;
    Enter(missingStreams, path);
    return;
  }
  RecordFoundStream(path);
  readStreams.Insert(path);
  nestingChain.push_back(route);
  ++nestingDepth;
  ScanNestedSource(source, path);
  --nestingDepth;
  nestingChain.pop_back();
  streamsRead.insert(route);
}

void DependencyTracker::RecordFoundStream(const std::string& path) {
  Enter(streams, path);
  SetResolvedName(path, path);
}

// Only a regular file is read as a nested stream: a FIFO, a device or
// "/dev/stdin" would block the scan or never end, and a directory holds no
// stream.
bool DependencyTracker::IsReadableStream(const std::string& path, StreamRoute* route) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    ScanMessage("tracwell: cannot open nested stream '%s' (system error: %s)\n",
                path.c_str(), ZpLastErrorText());
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    ScanMessage("tracwell: skipping nested stream '%s': not a regular file\n", path.c_str());
    return false;
  }
  *route = StreamRouteOf(path, info);
  return true;
}

// A route being read on this chain (a cycle), or read before by this
// tracker, is recorded but not read again. Routes are finite (files times
// folders), so no set of links can make the reading grow without bound.
bool DependencyTracker::AlreadyRead(const StreamRoute& route) const {
  return streamsRead.count(route) ||
         std::find(nestingChain.begin(), nestingChain.end(), route) != nestingChain.end();
}

DependencyTracker::StreamRoute DependencyTracker::StreamRouteOf(const std::string& path,
                                                                const struct stat& file) {
  StreamRoute route{{file.st_dev, file.st_ino}, {0, 0}};
  struct stat folder;
  if (stat(ZpDirName(path).c_str(), &folder) == 0) route.folder = {folder.st_dev, folder.st_ino};
  return route;
}

void DependencyTracker::ScanNestedSource(RibSource* source, const std::string& path) {
  // On the heap rather than the stack: each nesting level keeps one alive.
  auto nested = std::make_unique<RibScanner>(source, path.c_str(), nullptr,
                                             ReportFirstParseError, nullptr);
  RibScanner* outerScanner = currentScanner;
  uint32_t outerPending = pendingToken;
  currentScanner = nested.get();
  pendingToken = 0;
  ScanRequests();
  currentScanner = outerScanner;
  pendingToken = outerPending;
}
