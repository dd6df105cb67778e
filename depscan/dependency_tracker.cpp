#include "dependency_tracker.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checked_alloc.h"

namespace {

constexpr uint32_t kTableBuckets = 32;
constexpr float kTableLoadFactor = 0.75f;

std::atomic<bool> scansQuiet{false};

}  // namespace

// Two scans of the bytes: find_first_of would look each byte up in turn.
bool HasLineBreak(std::string_view name) {
  return std::memchr(name.data(), '\n', name.size()) || std::memchr(name.data(), '\r', name.size());
}

bool MayPrintName(std::string_view name) {
  if (!HasLineBreak(name)) return true;
  // The message itself must not break the line: the breaks are shown.
  std::string shown;
  for (char c : name) shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  ScanMessage("tracwell: leaving out names with a line break in '%s'\n", shown.c_str());
  return false;
}

QuietScans::QuietScans() : wasActive_(scansQuiet) { scansQuiet = true; }
QuietScans::~QuietScans() { scansQuiet = wasActive_; }
bool QuietScans::Active() { return scansQuiet; }

DependencyTracker::DependencyTracker(RibSource* source, const char* streamName,
                                     uint32_t kindMask)
    : name(streamName),
      resolvedNames(kTableBuckets, kTableLoadFactor),
      packagePathValues(kTableBuckets, kTableLoadFactor),
      listCursor(0),
      pendingToken(0),
      scanner(std::make_unique<RibScanner>(source, streamName, nullptr, ReportFirstParseError,
                                           nullptr)),
      currentScanner(scanner.get()) {
  resolvedNames.ownsValues = true;
  // A stream read from a file heads its nesting chain, so that a stream
  // naming itself is not read a second time. Only a file source is known by
  // its name: standard input, named "stdin", is no file of that name.
  struct stat info;
  auto* file = dynamic_cast<RibFromFile*>(source);
  if (file && file->IsOpen() && stat(streamName, &info) == 0 && S_ISREG(info.st_mode)) {
    nestingChain.push_back(StreamRouteOf(streamName, info));
  }
  trackShaders = kindMask & (DependencyKind::Shader | DependencyKind::MissingShader);
  trackTextures = kindMask & (DependencyKind::Texture | DependencyKind::MissingTexture);
  trackOutputs = kindMask & DependencyKind::Output;
  scanShaderHeaders = true;
}

void DependencyTracker::Scan() {
  ScanRequests();
  scanner.reset();
  currentScanner = nullptr;
  pendingToken = 0;
  // Only the scan classifies values; the listing needs the room, and a
  // run may hold thousands of trackers.
  existence.reset();
  nonTiffFiles.Clear();
  decltype(classifiedTableStrings)().swap(classifiedTableStrings);
  decltype(streamsRead)().swap(streamsRead);
  decltype(nestingChain)().swap(nestingChain);
  std::string().swap(expansion);
  std::string().swap(normalSpelling);
  std::string().swap(evaluateFileName);
  std::string().swap(evaluateType);
  evaluateFileNameString.reset();
}

ZpPathVariables& DependencyTracker::PathVariables() {
  if (!pathVariables) pathVariables = std::make_unique<ZpPathVariables>();
  return *pathVariables;
}

ExistenceCache& DependencyTracker::Disk() {
  if (!existence) existence = std::make_unique<ExistenceCache>();
  uint64_t reads = currentScanner ? currentScanner->inputReads() : 0;
  if (currentScanner != lastInputScanner || reads != lastInputReads) {
    lastInputScanner = currentScanner;
    lastInputReads = reads;
    existence->NewInput();
  }
  return *existence;
}

const char* DependencyTracker::Name() const { return name.c_str(); }

DependencySet* DependencyTracker::KindTable(DependencyKind kind) {
  switch (kind) {
    case DependencyKind::Shader: return &shaders;
    case DependencyKind::Texture: return &textures;
    case DependencyKind::Output: return &outputs;
    case DependencyKind::Stream: return &streams;
    case DependencyKind::Procedural: return &procedurals;
    case DependencyKind::MissingShader: return &missingShaders;
    case DependencyKind::MissingTexture: return &missingTextures;
    case DependencyKind::MissingStream: return &missingStreams;
    case DependencyKind::MissingProcedural: return &missingProcedurals;
  }
  return nullptr;
}

const std::string* DependencyTracker::First(DependencyKind kind) {
  if (KindTable(kind)) {
    sortedList.clear();
    ForEachSorted(kind, [&](std::string_view key) { sortedList.emplace_back(key); });
  }
  listCursor = 0;
  return Current();
}

const std::string* DependencyTracker::Next() {
  if (listCursor < sortedList.size()) ++listCursor;
  return Current();
}

const std::string* DependencyTracker::Current() const {
  return listCursor < sortedList.size() ? &sortedList[listCursor] : &emptyEntry;
}

std::string DependencyTracker::ResolvedShaderPath(const std::string& text) const {
  uint64_t value = 0;
  if (resolvedNames.Find(text.c_str(), &value)) return reinterpret_cast<const char*>(value);
  if (resolvedNames.Find((text + ".oso").c_str(), &value)) {
    return reinterpret_cast<const char*>(value);
  }
  return text;
}

bool DependencyTracker::Records(std::string_view name) {
  if (!HasLineBreak(name)) return true;
  if (!lineBreakReported) {
    lineBreakReported = true;
    ScanMessage("tracwell: leaving out names with a line break in '%s'\n",
            currentScanner ? currentScanner->streamName() : Name());
  }
  return false;
}

void DependencyTracker::Enter(DependencySet& table, std::string_view key) {
  EnterHashed(table, key, DependencySet::Hash(key));
}

// A name already entered has been let through before: only a new one is
// looked at.
void DependencyTracker::EnterHashed(DependencySet& table, std::string_view key, uint32_t hash) {
  if (key.empty()) return;
  table.InsertIf(key, hash, [this](std::string_view name) { return Records(name); });
}

void DependencyTracker::SetResolvedName(std::string_view key, const std::string& path) {
  if (!Records(key) || !Records(path)) return;
  // The table owns its values: it frees the copy that this one replaces.
  resolvedNames.Insert(key.data(), static_cast<uint32_t>(key.size() + 1),
                       reinterpret_cast<uint64_t>(ZpCheckedStrdup(path.c_str())));
}
