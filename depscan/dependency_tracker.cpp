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
  // Only the scan classifies values; the listing needs the room.
  classifiedOtherwise.clear();
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
  if (KindTable(kind)) {
    std::vector<std::string_view> keys = SortedKeys(kind);
    sortedList.clear();
    sortedList.reserve(keys.size());
    for (std::string_view key : keys) sortedList.emplace_back(key);
  }
  listCursor = 0;
  return Current();
}

namespace {

// A key with eight of its bytes as a big-endian number (zero-filled past
// the end), so that sorting compares numbers in a compact array instead of
// visiting the keys.
struct SortEntry {
  uint64_t word;
  std::string_view key;
};

uint64_t WordAt(std::string_view key, size_t offset) {
  unsigned char bytes[8] = {};
  if (offset < key.size()) {
    memcpy(bytes, key.data() + offset, std::min<size_t>(sizeof bytes, key.size() - offset));
  }
  uint64_t word = 0;
  for (unsigned char b : bytes) word = word << 8 | b;
  return word;
}

// Bytewise order, a prefix first: sorts by the eight bytes at offset, then
// each run of equal bytes by the next eight. Keys hold no NUL, so the zero
// filling sorts an ended key first, and two different keys never tie once
// one of them has ended.
void SortFrom(SortEntry* begin, SortEntry* end, size_t offset) {
  for (SortEntry* e = begin; e != end; ++e) e->word = WordAt(e->key, offset);
  std::sort(begin, end, [](const SortEntry& a, const SortEntry& b) { return a.word < b.word; });
  for (SortEntry* run = begin; run != end;) {
    SortEntry* next = run + 1;
    while (next != end && next->word == run->word) ++next;
    if (next - run > 1) SortFrom(run, next, offset + sizeof(uint64_t));
    run = next;
  }
}

}  // namespace

std::vector<std::string_view> DependencyTracker::SortedKeys(DependencyKind kind) {
  std::vector<std::string_view> keys;
  ZpHashTable* table = KindTable(kind);
  if (!table) return keys;
  std::vector<SortEntry> entries;
  entries.reserve(table->count);
  ZpHashTable::Iterator it{table, 0, nullptr, nullptr};
  for (it.current = table->Next(&it.bucket, &it.next); it.current;
       it.current = table->Next(&it.bucket, &it.next)) {
    // Keys hold no NUL but their last byte.
    entries.push_back({0, std::string_view(static_cast<const char*>(it.Key()))});
  }
  SortFrom(entries.data(), entries.data() + entries.size(), 0);
  keys.reserve(entries.size());
  for (const SortEntry& e : entries) keys.push_back(e.key);
  return keys;
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

// Keys carry their NUL: the text is followed by one.
void DependencyTracker::Enter(ZpHashTable& table, std::string_view key) {
  // An empty key would end the sorted listing of its kind at once.
  if (key.empty()) return;
  table.Insert(key.data(), static_cast<uint32_t>(key.size() + 1), 0);
}

bool DependencyTracker::Contains(const ZpHashTable& table, std::string_view key) {
  if (table.count == 0) return false;  // spares hashing the key
  uint64_t value = 0;
  return table.Find(key.data(), static_cast<uint32_t>(key.size() + 1), &value);
}

void DependencyTracker::SetResolvedName(std::string_view key, const std::string& path) {
  // The table owns its values: it frees the copy that this one replaces.
  resolvedNames.Insert(key.data(), static_cast<uint32_t>(key.size() + 1),
                       reinterpret_cast<uint64_t>(strdup(path.c_str())));
}
