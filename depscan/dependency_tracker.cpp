#include "dependency_tracker.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checked_alloc.h"

namespace {

constexpr uint32_t kTableBuckets = 32;
constexpr float kTableLoadFactor = 0.75f;

// Set once the first scan message of the run has been printed.
bool scanMessagePrinted = false;

constexpr int kFatal = 3;

}  // namespace

void ReportFirstParseError(void* /*user*/, int severity, const char* message) {
  // A fatal message ends the run: it must be seen whatever came before.
  if (scanMessagePrinted && severity != kFatal) return;
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
    nestingChain.push_back({info.st_dev, info.st_ino});
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

// A key with sixteen of its bytes as a big-endian number pair (zero-filled
// past the end), so that sorting compares numbers in a compact array and
// visits the keys once per sixteen bytes that tie.
struct SortEntry {
  uint64_t high;
  uint64_t low;
  std::string_view key;

  bool TiesWith(const SortEntry& other) const { return high == other.high && low == other.low; }
};

constexpr size_t kSortStep = 2 * sizeof(uint64_t);
// Runs still tied this far into their keys are sorted by comparing the keys
// whole, so the recursion stays shallow however long the keys are.
constexpr size_t kMaxWordOffset = 16 * kSortStep;

uint64_t BigEndianWord(const unsigned char* bytes) {
  uint64_t word = 0;
  for (int i = 0; i < 8; ++i) word = word << 8 | bytes[i];
  return word;
}

void LoadWords(SortEntry& e, size_t offset) {
  unsigned char bytes[kSortStep] = {};
  if (offset < e.key.size()) {
    memcpy(bytes, e.key.data() + offset, std::min(kSortStep, e.key.size() - offset));
  }
  e.high = BigEndianWord(bytes);
  e.low = BigEndianWord(bytes + 8);
}

// Bytewise order, a prefix first, for entries whose words hold the sixteen
// bytes at offset: sorts by them, then each run that ties by the next
// sixteen. Keys hold no NUL, so the zero filling sorts an ended key first,
// and two different keys never tie once one of them has ended.
void SortFrom(SortEntry* begin, SortEntry* end, size_t offset) {
  std::sort(begin, end, [](const SortEntry& a, const SortEntry& b) {
    return a.high != b.high ? a.high < b.high : a.low < b.low;
  });
  for (SortEntry* run = begin; run != end;) {
    SortEntry* next = run + 1;
    while (next != end && next->TiesWith(*run)) ++next;
    size_t rest = offset + kSortStep;
    if (next - run > 1 && rest >= kMaxWordOffset) {
      std::sort(run, next, [](const SortEntry& a, const SortEntry& b) { return a.key < b.key; });
    } else if (next - run > 1) {
      for (SortEntry* e = run; e != next; ++e) LoadWords(*e, rest);
      SortFrom(run, next, rest);
    }
    run = next;
  }
}

}  // namespace

namespace {

// Bytes that every key of a listing is likely to share ("/shows/s1/tex/"):
// the common prefix of the first keys met. Comparing from there lets the
// first words decide nearly every comparison, where words from the key's
// start would all tie and be read again further on.
size_t LikelyCommonPrefix(const ZpHashTable& table) {
  constexpr int kSample = 64;
  std::string_view first;
  size_t common = 0;
  ZpHashTable::Iterator it{&table, 0, nullptr, nullptr};
  it.current = table.Next(&it.bucket, &it.next);
  for (int n = 0; it.current && n < kSample; ++n, it.current = table.Next(&it.bucket, &it.next)) {
    std::string_view key(static_cast<const char*>(it.Key()), it.KeyLength() - 1);
    if (n == 0) {
      first = key;
      common = key.size();
      continue;
    }
    size_t limit = std::min(common, key.size());
    size_t same = 0;
    while (same < limit && key[same] == first[same]) ++same;
    common = same;
  }
  return common;
}

}  // namespace

std::vector<std::string_view> DependencyTracker::SortedKeys(DependencyKind kind) {
  std::vector<std::string_view> keys;
  ZpHashTable* table = KindTable(kind);
  if (!table) return keys;
  std::vector<SortEntry> entries;
  entries.reserve(table->count);
  size_t offset = LikelyCommonPrefix(*table);
  std::string_view prefix;
  bool shared = true;
  ZpHashTable::Iterator it{table, 0, nullptr, nullptr};
  for (it.current = table->Next(&it.bucket, &it.next); it.current;
       it.current = table->Next(&it.bucket, &it.next)) {
    // The key's last byte is its NUL; the first words are read while the
    // entry is at hand.
    SortEntry e{0, 0, std::string_view(static_cast<const char*>(it.Key()), it.KeyLength() - 1)};
    if (prefix.empty()) prefix = e.key.substr(0, offset);
    shared = shared && e.key.compare(0, offset, prefix) == 0;
    LoadWords(e, offset);
    entries.push_back(e);
  }
  if (!shared) {  // the sample misled: compare whole keys
    offset = 0;
    for (SortEntry& e : entries) LoadWords(e, 0);
  }
  SortFrom(entries.data(), entries.data() + entries.size(), offset);
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

bool DependencyTracker::Records(std::string_view name) {
  if (name.find_first_of("\n\r") == std::string_view::npos) return true;
  if (!lineBreakReported) {
    lineBreakReported = true;
    fprintf(stderr, "tracwell: leaving out names with a line break in '%s'\n",
            currentScanner ? currentScanner->streamName() : Name());
  }
  return false;
}

// Keys carry their NUL: the text is followed by one.
void DependencyTracker::Enter(ZpHashTable& table, std::string_view key) {
  // An empty key would end the sorted listing of its kind at once.
  if (key.empty() || !Records(key)) return;
  table.Insert(key.data(), static_cast<uint32_t>(key.size() + 1), 0);
}

bool DependencyTracker::Contains(const ZpHashTable& table, std::string_view key) {
  if (table.count == 0) return false;  // spares hashing the key
  uint64_t value = 0;
  return table.Find(key.data(), static_cast<uint32_t>(key.size() + 1), &value);
}

void DependencyTracker::SetResolvedName(std::string_view key, const std::string& path) {
  if (!Records(key) || !Records(path)) return;
  // The table owns its values: it frees the copy that this one replaces.
  resolvedNames.Insert(key.data(), static_cast<uint32_t>(key.size() + 1),
                       reinterpret_cast<uint64_t>(ZpCheckedStrdup(path.c_str())));
}
