#include "packaged_names.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "dependency_tracker.h"
#include "relative_path.h"
#include "tool_options.h"

ZpTypedHash<const char>& InitPackagedNameTable() {
  static ZpTypedHash<const char> table(32, 0.75f);
  return table;
}

ZpTypedHash<const char>& PackagedNameTable = InitPackagedNameTable();

namespace {

constexpr size_t kPrefixLength = sizeof kPackageDirPrefix - 1;

uint64_t StringValue(const std::string& text) {
  return reinterpret_cast<uint64_t>(strdup(text.c_str()));
}

bool HasSeparator(const std::string& path) {
  return path.find_first_of("/\\") != std::string::npos;
}

bool Holds(const ZpHashTable& set, const std::string& key) {
  uint64_t unused;
  return set.Find(key.c_str(), uint32_t(key.size() + 1), &unused);
}

void Enter(ZpHashTable& set, const std::string& key) {
  set.Insert(key.c_str(), uint32_t(key.size() + 1), 0);
}

bool HasParentStep(const std::string& name) {
  for (size_t start = 0;;) {
    size_t end = name.find_first_of("/\\", start);
    if (name.compare(start, end == std::string::npos ? end : end - start, "..") == 0) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

// The relative name, unless it climbs out of its root ("-r /shot" with
// /shot/../tex/a.tif): the copy would land outside the package, so such a
// path is named by its file name alone.
std::string NameInPackage(const ToolOptions& options, const std::string& path) {
  std::string name = SplitRelativePath(options, path);
  if (!HasParentStep(name)) return name;
  return path.substr(path.find_last_of("/\\") + 1);
}

constexpr char kUdim[] = "UDIM";
constexpr int kFirstTile = 1001;
constexpr int kLastTile = 1999;

std::string WithTile(const std::string& pattern, int number) {
  std::string name = pattern;
  name.replace(name.find(kUdim), 4, std::to_string(number));
  return name;
}

// name with "_N" before its extension (the text from its last dot).
std::string Numbered(const std::string& name, int n) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name + "_" + std::to_string(n);
  return name.substr(0, dot) + "_" + std::to_string(n) + name.substr(dot);
}

std::unordered_map<std::string, std::string>& PatternTable() {
  static std::unordered_map<std::string, std::string> table;
  return table;
}

// The tiles of one UDIM name, named as one set: the same rename for all, so
// that the pattern with that rename finds them in the package, and no other
// file there.
struct UdimSet {
  std::string pattern;      // as the tracker recorded it
  std::string patternName;  // its relative name, "UDIM" kept
  std::vector<std::pair<int, std::string>> tiles;
};

// The naming phase of one run.
class PackageNamer {
 public:
  explicit PackageNamer(const ToolOptions& options) : options_(options) {}
  ~PackageNamer() { candidateNames_.Clear(true); }

  void FindUdimSets(const std::vector<DependencyTracker*>& trackers);
  // Takes the path's relative name when free, else queues it for renaming.
  void Claim(const std::string& path);
  void RenameClashes();
  void Publish() const;

 private:
  struct Clash {
    std::string path;
    int set;  // the UDIM set the path heads, or -1
  };
  void AddSet(DependencyTracker& tracker, const std::string& pattern);
  void ClaimSet(int set);
  bool IsTaken(const std::string& name) const;
  bool FallsInReservedPattern(const std::string& name) const;
  bool SetNamesFree(const std::string& patternName) const;
  void Take(const std::string& name, const std::string& path);
  void TakeSet(const UdimSet& set, const std::string& patternName);

  const ToolOptions& options_;
  ZpTypedHash<const char> candidateNames_{32, 0.75f};  // reference -> strdup'ed path
  ZpHashTable handledPaths_{32, 0.75f};
  std::vector<Clash> clashes_;
  std::vector<UdimSet> sets_;
  std::unordered_set<std::string> seenPatterns_;
  std::unordered_map<std::string, int> setOfTile_;
  std::unordered_set<std::string> reservedPatterns_;  // pattern names of named sets
};

void PackageNamer::FindUdimSets(const std::vector<DependencyTracker*>& trackers) {
  for (DependencyTracker* tracker : trackers) {
    std::vector<std::string> patterns;
    ZpHashTable::Iterator it = {&tracker->udimPatterns, 0, nullptr, nullptr};
    for (it.current = tracker->udimPatterns.Next(&it.bucket, &it.next); it.current;
         it.current = tracker->udimPatterns.Next(&it.bucket, &it.next))
      patterns.emplace_back(static_cast<const char*>(it.Key()));
    std::sort(patterns.begin(), patterns.end());
    for (const std::string& pattern : patterns) AddSet(*tracker, pattern);
  }
}

// A set is named as one only when each tile's relative name is the pattern's
// with its number ("UDIM" in a directory left out of the name is not), and
// no tile belongs to a set met before; its tiles are named one by one
// otherwise.
void PackageNamer::AddSet(DependencyTracker& tracker, const std::string& pattern) {
  if (!seenPatterns_.insert(pattern).second) return;
  UdimSet set{pattern, NameInPackage(options_, pattern), {}};
  if (set.patternName.find(kUdim) == std::string::npos) return;
  for (int n = kFirstTile; n <= kLastTile; ++n) {
    std::string tile = WithTile(pattern, n);
    if (!tracker.textures.Contains(tile)) continue;
    if (setOfTile_.count(tile) || NameInPackage(options_, tile) != WithTile(set.patternName, n))
      return;
    set.tiles.emplace_back(n, tile);
  }
  if (set.tiles.empty()) return;
  for (const auto& tile : set.tiles) setOfTile_[tile.second] = int(sets_.size());
  sets_.push_back(std::move(set));
}

bool PackageNamer::FallsInReservedPattern(const std::string& name) const {
  if (reservedPatterns_.empty()) return false;
  for (size_t i = 0; i + 4 <= name.size(); ++i) {
    if (!std::all_of(name.begin() + i, name.begin() + i + 4,
                     [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    int number = std::stoi(name.substr(i, 4));
    if (number < kFirstTile || number > kLastTile) continue;
    std::string pattern = name;
    if (reservedPatterns_.count(pattern.replace(i, 4, kUdim))) return true;
  }
  return false;
}

bool PackageNamer::IsTaken(const std::string& name) const {
  uint64_t unused;
  return candidateNames_.Find((kPackageDirPrefix + name).c_str(), &unused) ||
         FallsInReservedPattern(name);
}

// Every name the pattern stands for must be free, the tiles' own and the
// others': the pattern would find a file of another set there too.
bool PackageNamer::SetNamesFree(const std::string& patternName) const {
  if (reservedPatterns_.count(patternName)) return false;
  for (int n = kFirstTile; n <= kLastTile; ++n)
    if (IsTaken(WithTile(patternName, n))) return false;
  return true;
}

void PackageNamer::Take(const std::string& name, const std::string& path) {
  candidateNames_.Insert((kPackageDirPrefix + name).c_str(), StringValue(path));
}

void PackageNamer::TakeSet(const UdimSet& set, const std::string& patternName) {
  for (const auto& [number, tile] : set.tiles) Take(WithTile(patternName, number), tile);
  reservedPatterns_.insert(patternName);
  PatternTable()[set.pattern] = kPackageDirPrefix + patternName;
}

void PackageNamer::ClaimSet(int index) {
  const UdimSet& set = sets_[size_t(index)];
  for (const auto& tile : set.tiles) Enter(handledPaths_, tile.second);
  if (SetNamesFree(set.patternName))
    TakeSet(set, set.patternName);
  else
    clashes_.push_back({set.tiles.front().second, index});
}

void PackageNamer::Claim(const std::string& path) {
  if (Holds(handledPaths_, path)) return;
  auto tile = setOfTile_.find(path);
  if (tile != setOfTile_.end()) return ClaimSet(tile->second);
  Enter(handledPaths_, path);
  std::string name = NameInPackage(options_, path);
  if (IsTaken(name))
    clashes_.push_back({path, -1});
  else
    Take(name, path);
}

void PackageNamer::RenameClashes() {
  for (const Clash& clash : clashes_) {
    if (clash.set >= 0) {
      const UdimSet& set = sets_[size_t(clash.set)];
      int n = 1;
      while (!SetNamesFree(Numbered(set.patternName, n))) ++n;
      TakeSet(set, Numbered(set.patternName, n));
      continue;
    }
    std::string name = NameInPackage(options_, clash.path);
    int n = 1;
    while (IsTaken(Numbered(name, n))) ++n;
    Take(Numbered(name, n), clash.path);
  }
}

void PackageNamer::Publish() const {
  ZpHashTable::Iterator it = {&candidateNames_, 0, nullptr, nullptr};
  it.current = candidateNames_.Next(&it.bucket, &it.next);
  while (it.current) {
    const char* reference = static_cast<const char*>(it.Key());
    const char* path = reinterpret_cast<const char*>(it.Value());
    PackagedNameTable.Insert(path, reinterpret_cast<uint64_t>(strdup(reference)));
    it.current = candidateNames_.Next(&it.bucket, &it.next);
  }
}

}  // namespace

void NamePackageContents(const std::vector<DependencyTracker*>& trackers,
                         const ToolOptions& options) {
  PatternTable().clear();
  PackageNamer namer(options);
  namer.FindUdimSets(trackers);
  const DependencyKind namedKinds[] = {Stream, Texture, Shader, Procedural};
  for (DependencyTracker* tracker : trackers)
    for (DependencyKind kind : namedKinds)
      for (const std::string* path = tracker->First(kind); !path->empty(); path = tracker->Next())
        namer.Claim(*path);
  // Top-level streams come last, so that they never take a dependency's
  // first-choice name, but still get names of their own: two inputs
  // /a/shot.rib and /b/shot.rib must not overwrite each other.
  for (DependencyTracker* tracker : trackers) namer.Claim(tracker->Name());
  namer.RenameClashes();
  namer.Publish();
  if (!options.verbose) return;
  for (DependencyTracker* tracker : trackers) {
    std::string name = PackagedName(tracker->Name());
    if (MayPrintName(tracker->Name()) && MayPrintName(name))
      std::printf("\n#Packaging stream '%s' as '%s'\n", tracker->Name(), name.c_str());
  }
}

std::string PackagedPattern(const std::string& pattern) {
  auto found = PatternTable().find(pattern);
  return found == PatternTable().end() ? std::string() : found->second;
}

void ClearPackagedNames() {
  PackagedNameTable.Clear(true);
  PatternTable().clear();
}

std::string PackagedName(const std::string& path) {
  uint64_t value;
  if (!PackagedNameTable.Find(path.c_str(), &value)) return std::string();
  std::string name = reinterpret_cast<const char*>(value);
  size_t at = name.find(kPackageDirPrefix);
  if (at != std::string::npos) name.erase(at, kPrefixLength);
  return name;
}

void ListChangedFiles(DependencyKind kind, DependencyTracker& tracker, bool verbose,
                      ZpHashTable& changedPaths) {
  for (const std::string* entry = tracker.First(kind); !entry->empty(); entry = tracker.Next()) {
    if (Holds(changedPaths, *entry)) continue;
    bool changes = HasSeparator(*entry);
    uint64_t value;
    if (!changes && PackagedNameTable.Find(entry->c_str(), &value))
      changes = *entry != reinterpret_cast<const char*>(value);
    if (!changes) continue;
    if (verbose) std::printf("%s\n", entry->c_str());
    Enter(changedPaths, *entry);
  }
}
