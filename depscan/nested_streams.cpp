// Shaders, procedurals and nested streams. A nested stream is read at once,
// into this tracker, as if its requests stood in place of the Evaluate.
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "dependency_tracker.h"

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
  if (existence.Exists(path)) {
    Enter(shaders, path);
    SetResolvedName(path, path);
  } else {
    Enter(missingShaders, path);
  }
}

void DependencyTracker::AddProcedural(const std::string& procedural) {
  for (const char* suffix : kProceduralSuffixes) {
    std::string path = procedural + suffix;
    if (existence.Exists(path)) {
      Enter(procedurals, path);
      SetResolvedName(procedural, path);
      return;
    }
  }
  Enter(missingProcedurals, procedural);
}

void DependencyTracker::AddNestedStream(const std::string& path) {
  if (!existence.Exists(path)) {
    Enter(missingStreams, path);
    return;
  }
  Enter(streams, path);
  SetResolvedName(path, path);
  FileIdentity identity;
  if (!MayDescendInto(path, &identity)) return;
  auto* source = new RibFromFile(path.c_str());
  if (!source->IsOpen()) {
    delete source;  // a directory or an unreadable file: recorded, not read
    return;
  }
  nestingChain.push_back(identity);
  ++nestingDepth;
  ScanNestedSource(source, path);
  --nestingDepth;
  nestingChain.pop_back();
}

// A stream already being read on this chain (a cycle) or a chain that is
// already at its depth bound is recorded but not read again.
bool DependencyTracker::MayDescendInto(const std::string& path, FileIdentity* identity) const {
  if (nestingDepth >= kMaxNestingDepth) return false;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  *identity = {info.st_dev, info.st_ino};
  return std::find(nestingChain.begin(), nestingChain.end(), *identity) == nestingChain.end();
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
