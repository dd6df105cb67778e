#include "dependency_tracker.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kTableBuckets = 32;
constexpr float kTableLoadFactor = 0.75f;

// Set once the first scan message of the run has been printed.
bool scanMessagePrinted = false;

}  // namespace

void ReportFirstParseError(void* /*user*/, int /*severity*/, const char* message) {
  if (scanMessagePrinted) return;
  fprintf(stderr, "tracwell: %s\n", message);
  scanMessagePrinted = true;
}

DependencyTracker::DependencyTracker(RibSource* source, const char* streamName,
                                     uint32_t kindMask)
    : name(streamName),
      textures(kTableBuckets, kTableLoadFactor),
      outputs(kTableBuckets, kTableLoadFactor),
      streams(kTableBuckets, kTableLoadFactor),
      shaders(kTableBuckets, kTableLoadFactor),
      procedurals(kTableBuckets, kTableLoadFactor),
      missingTextures(kTableBuckets, kTableLoadFactor),
      missingStreams(kTableBuckets, kTableLoadFactor),
      missingShaders(kTableBuckets, kTableLoadFactor),
      missingProcedurals(kTableBuckets, kTableLoadFactor),
      resolvedNames(kTableBuckets, kTableLoadFactor),
      packagePathValues(kTableBuckets, kTableLoadFactor),
      listCursor(0),
      pendingToken(0),
      scanner(source, streamName, nullptr, ReportFirstParseError, nullptr),
      currentScanner(&scanner) {
  resolvedNames.ownsValues = true;
  trackShaders = kindMask & (DependencyKind::Shader | DependencyKind::MissingShader);
  trackTextures = kindMask & (DependencyKind::Texture | DependencyKind::MissingTexture);
  trackOutputs = kindMask & DependencyKind::Output;
  scanShaderHeaders = true;
}

void DependencyTracker::Scan() {
  // The stream itself heads the nesting chain, so that a stream naming
  // itself is not read a second time.
  struct stat info;
  bool known = stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  if (known) nestingChain.push_back({info.st_dev, info.st_ino});
  ScanRequests();
  if (known) nestingChain.pop_back();
}

const char* DependencyTracker::Name() const { return name.c_str(); }

ZpHashTable* DependencyTracker::KindTable(DependencyKind kind) {
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
  if (ZpHashTable* table = KindTable(kind)) {
    sortedList.clear();
    ZpHashTable::Iterator it{table, 0, nullptr, nullptr};
    for (it.current = table->Next(&it.bucket, &it.next); it.current;
         it.current = table->Next(&it.bucket, &it.next)) {
      sortedList.emplace_back(static_cast<const char*>(it.Key()));
    }
    // std::string compares as unsigned bytes, a prefix first.
    std::sort(sortedList.begin(), sortedList.end());
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

void DependencyTracker::Enter(ZpHashTable& table, const std::string& key) {
  // An empty key would end the sorted listing of its kind at once.
  if (key.empty()) return;
  table.Insert(key.c_str(), static_cast<uint32_t>(key.size() + 1), 0);
}

bool DependencyTracker::Contains(const ZpHashTable& table, const std::string& key) {
  uint64_t value = 0;
  return table.Find(key.c_str(), static_cast<uint32_t>(key.size() + 1), &value);
}

void DependencyTracker::SetResolvedName(const std::string& key, const std::string& path) {
  // The table owns its values: it frees the copy that this one replaces.
  resolvedNames.Insert(key.c_str(), reinterpret_cast<uint64_t>(strdup(path.c_str())));
}
