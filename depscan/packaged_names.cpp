#include "packaged_names.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "dependency_tracker.h"
#include "file_identity.h"
#include "package_jobs.h"
#include "relative_path.h"
#include "stream_routes.h"
#include "stream_rewrite.h"
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

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// name with "_N" before its extension (the text from its last dot). The
// folder entry that gets the number is shortened before it, when it would
// outgrow the longest name the file system takes (at a character's start,
// and never inside a UDIM marker), so that the copy can still be written.
std::string Numbered(const std::string& name, int n, size_t longestEntry) {
  size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string number = "_" + std::to_string(n);
  size_t entryStart = stem.find_last_of("/\\");
  entryStart = entryStart == std::string::npos ? 0 : entryStart + 1;
  size_t extensionEnd = extension.find_first_of("/\\");
  size_t length = stem.size() - entryStart + number.size() +
                  (extensionEnd == std::string::npos ? extension.size() : extensionEnd);
  if (length > longestEntry) {
    size_t excess = length - longestEntry;
    size_t end = stem.size();
    size_t marker = stem.rfind(kUdim);
    // The cut goes before the marker, and before the byte that sets it
    // apart ("skin.UDIM").
    if (marker != std::string::npos && marker >= entryStart && marker + 4 > end - excess)
      end = marker > entryStart ? marker - 1 : marker;
    if (end >= entryStart + excess) {
      size_t start = end - excess;
      while (start > entryStart && IsContinuationByte(stem[start])) --start;
      stem.erase(start, end - start);
    }
  }
  return stem + number + extension;
}

// The name a UDIM set goes by in the package, "UDIM" in place of the tile
// number. When the marker lies in a folder that the relative name leaves
// out ("tiles_UDIM/skin.tif"), the tile number goes into the file name
// ("skin.UDIM.tif", tiles "skin.1001.tif"), so that the pattern still finds
// the tiles in the flat package.
std::string PatternName(const ToolOptions& options, const std::string& pattern) {
  std::string name = NameInPackage(options, pattern);
  size_t marker = pattern.find(kUdim);
  if (name.size() <= pattern.size() &&
      pattern.compare(pattern.size() - name.size(), name.size(), name) == 0 &&
      marker >= pattern.size() - name.size())
    return name;
  size_t entry = name.find_last_of("/\\");
  entry = entry == std::string::npos ? 0 : entry + 1;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < entry) dot = name.size();
  std::string stem = name.substr(0, dot);
  // The marker must be the first "UDIM" of the name: it is the one replaced.
  if (stem.find(kUdim) != std::string::npos) return name.substr(0, entry) + "UDIM." + name.substr(entry);
  return stem + ".UDIM" + name.substr(dot);
}

std::unordered_map<std::string, std::string>& PatternTable() {
  static std::unordered_map<std::string, std::string> table;
  return table;
}

// The longest folder entry the file system of the package takes.
size_t LongestEntry(const ToolOptions& options) {
  long longest = pathconf(options.packageDir.empty() ? "." : options.packageDir.c_str(),
                          _PC_NAME_MAX);
  return longest > 0 ? size_t(longest) : 255;
}

// The tiles of one UDIM name, named as one set: the same rename for all, so
// that the pattern with that rename finds them in the package, and no other
// file there.
struct UdimSet {
  std::string pattern;      // as the tracker recorded it
  std::string patternName;  // its name in the package, "UDIM" kept
  std::vector<std::pair<int, std::string>> tiles;
  // Other spellings of the pattern whose tiles are these very files.
  std::vector<std::string> aliases;
  bool claimed = false;
};

// One file is one copy: the names by which the run recorded it share one
// packaged name. A stream is one copy per way of reading it.
struct CopyKey {
  bool stream;
  FileIdentity file;
  FileIdentity mark;  // streams: the class of the routes that read it alike
  bool operator<(const CopyKey& other) const {
    return std::tie(stream, file, mark) < std::tie(other.stream, other.file, other.mark);
  }
};

// The naming phase of one run.
class PackageNamer {
 public:
  PackageNamer(const ToolOptions& options, const StreamRouteClasses& routes)
      : options_(options), routes_(routes), longestEntry_(LongestEntry(options)) {}
  ~PackageNamer() { candidateNames.Clear(true); }

  void FindUdimSets(const std::vector<DependencyTracker*>& trackers);
  // The first-choice names of one kind of one tracker: each path takes its
  // relative name when free, else queues for a new name.
  void AssignPackagedNames(DependencyTracker& tracker, DependencyKind kind);
  // A top-level stream, named after every dependency.
  void ClaimInput(const std::string& name) { Claim(name, true); }
  // A nested stream that cannot be written gets no name: no reference
  // names it.
  void LeaveOut(const std::string& path) { leftOut_.insert(path); }
  void RenameClashes();
  void Publish() const;

  // "${VRXDIR}/<packaged name>" -> strdup'ed path that holds it.
  ZpTypedHash<const char> candidateNames{32, 0.75f};
  ZpHashTable handledPaths{32, 0.75f};
  struct Clash {
    std::string path;
    int set;  // the UDIM set the path heads, or -1
  };
  std::vector<Clash> clashingPaths;

 private:
  struct Copy {
    bool named = false;
    std::string name;
    std::vector<std::string> waiting;  // other names of the file, met before it was named
  };
  void Claim(const std::string& path, bool stream);
  bool KeyOf(const std::string& path, bool stream, CopyKey* key) const;
  void AddSet(DependencyTracker& tracker, const std::string& pattern);
  void ClaimSet(int set);
  bool IsTaken(const std::string& name) const;
  bool FallsInReservedPattern(const std::string& name) const;
  bool SetNamesFree(const std::string& patternName) const;
  void Take(const std::string& name, const std::string& path);
  void TakeSet(const UdimSet& set, const std::string& patternName);
  void NameCopyOf(const std::string& path, const std::string& name);

  const ToolOptions& options_;
  const StreamRouteClasses& routes_;
  size_t longestEntry_;
  std::vector<UdimSet> sets_;
  std::unordered_set<std::string> seenPatterns_;
  std::unordered_map<std::string, int> setOfTile_;
  std::map<std::vector<std::pair<int, FileIdentity>>, int> setOfFiles_;
  std::unordered_map<std::string, int> aliasTileOf_;
  std::unordered_set<std::string> reservedPatterns_;  // pattern names of named sets
  std::map<CopyKey, Copy> copies_;
  std::map<std::string, CopyKey> keyOfPath_;
  std::vector<std::pair<std::string, std::string>> sharedNames_;  // path, name
  std::unordered_set<std::string> leftOut_;
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

// A set is named as one unless a tile belongs to a set met before (its
// tiles are named one by one then).
void PackageNamer::AddSet(DependencyTracker& tracker, const std::string& pattern) {
  if (!seenPatterns_.insert(pattern).second) return;
  UdimSet set{pattern, PatternName(options_, pattern), {}, {}, false};
  if (set.patternName.find(kUdim) == std::string::npos) return;
  bool inName = set.patternName == NameInPackage(options_, pattern);
  for (int n = kFirstTile; n <= kLastTile; ++n) {
    std::string tile = WithTile(pattern, n);
    if (!tracker.textures.Contains(tile)) continue;
    if (setOfTile_.count(tile) ||
        (inName && NameInPackage(options_, tile) != WithTile(set.patternName, n)))
      return;
    set.tiles.emplace_back(n, tile);
  }
  if (set.tiles.empty()) return;
  // Another spelling of a set met before (through a linked folder, say):
  // its tiles are that set's files, and its pattern that set's pattern.
  std::vector<std::pair<int, FileIdentity>> files;
  for (const auto& [number, tile] : set.tiles) {
    FileIdentity identity;
    if (!IdentifyFile(tile, &identity)) break;
    files.emplace_back(number, identity);
  }
  if (files.size() == set.tiles.size()) {
    auto known = setOfFiles_.find(files);
    if (known != setOfFiles_.end()) {
      sets_[size_t(known->second)].aliases.push_back(pattern);
      for (const auto& tile : set.tiles) aliasTileOf_[tile.second] = known->second;
      return;
    }
    setOfFiles_[files] = int(sets_.size());
  }
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
  return candidateNames.Find((kPackageDirPrefix + name).c_str(), &unused) ||
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
  candidateNames.Insert((kPackageDirPrefix + name).c_str(), StringValue(path));
  NameCopyOf(path, name);
}

// The other names of the file that path names take the same packaged name.
void PackageNamer::NameCopyOf(const std::string& path, const std::string& name) {
  auto key = keyOfPath_.find(path);
  if (key == keyOfPath_.end()) return;
  Copy& copy = copies_[key->second];
  if (copy.named) return;
  copy.named = true;
  copy.name = name;
  for (const std::string& other : copy.waiting) sharedNames_.emplace_back(other, name);
  copy.waiting.clear();
}

void PackageNamer::TakeSet(const UdimSet& set, const std::string& patternName) {
  for (const auto& [number, tile] : set.tiles) Take(WithTile(patternName, number), tile);
  reservedPatterns_.insert(patternName);
  PatternTable()[set.pattern] = kPackageDirPrefix + patternName;
  for (const std::string& alias : set.aliases)
    PatternTable()[alias] = kPackageDirPrefix + patternName;
}

void PackageNamer::ClaimSet(int index) {
  UdimSet& set = sets_[size_t(index)];
  if (set.claimed) return;
  set.claimed = true;
  for (const auto& tile : set.tiles) {
    Enter(handledPaths, tile.second);
    CopyKey key;
    if (!KeyOf(tile.second, false, &key)) continue;
    copies_.try_emplace(key);  // its other names wait for the set's name
    keyOfPath_.emplace(tile.second, key);
  }
  if (SetNamesFree(set.patternName))
    TakeSet(set, set.patternName);
  else
    clashingPaths.push_back({set.tiles.front().second, index});
}

bool PackageNamer::KeyOf(const std::string& path, bool stream, CopyKey* key) const {
  key->stream = stream;
  key->mark = {0, 0};
  if (stream) return routes_.ClassOf(path, &key->file, &key->mark);
  return IdentifyFile(path, &key->file);
}

void PackageNamer::Claim(const std::string& path, bool stream) {
  if (Holds(handledPaths, path)) return;
  auto tile = setOfTile_.find(path);
  if (tile != setOfTile_.end()) return ClaimSet(tile->second);
  // A tile of another spelling of a set: the set is named first, and the
  // tile shares its file's name.
  auto alias = aliasTileOf_.find(path);
  if (alias != aliasTileOf_.end()) ClaimSet(alias->second);
  Enter(handledPaths, path);
  CopyKey key;
  if (KeyOf(path, stream, &key)) {
    auto known = copies_.find(key);
    if (known != copies_.end()) {  // another name of a file met before
      if (known->second.named)
        sharedNames_.emplace_back(path, known->second.name);
      else
        known->second.waiting.push_back(path);
      return;
    }
    copies_[key];
    keyOfPath_.emplace(path, key);
  }
  std::string name = NameInPackage(options_, path);
  if (IsTaken(name))
    clashingPaths.push_back({path, -1});
  else
    Take(name, path);
}

void PackageNamer::AssignPackagedNames(DependencyTracker& tracker, DependencyKind kind) {
  for (const std::string* path = tracker.First(kind); !path->empty(); path = tracker.Next())
    if (!leftOut_.count(*path)) Claim(*path, kind == Stream);
}

void PackageNamer::RenameClashes() {
  for (const Clash& clash : clashingPaths) {
    if (clash.set >= 0) {
      const UdimSet& set = sets_[size_t(clash.set)];
      int n = 1;
      while (!SetNamesFree(Numbered(set.patternName, n, longestEntry_))) ++n;
      TakeSet(set, Numbered(set.patternName, n, longestEntry_));
      continue;
    }
    std::string name = NameInPackage(options_, clash.path);
    int n = 1;
    while (IsTaken(Numbered(name, n, longestEntry_))) ++n;
    Take(Numbered(name, n, longestEntry_), clash.path);
  }
}

void PackageNamer::Publish() const {
  ZpHashTable::Iterator it = {&candidateNames, 0, nullptr, nullptr};
  it.current = candidateNames.Next(&it.bucket, &it.next);
  while (it.current) {
    const char* reference = static_cast<const char*>(it.Key());
    const char* path = reinterpret_cast<const char*>(it.Value());
    PackagedNameTable.Insert(path, reinterpret_cast<uint64_t>(strdup(reference)));
    it.current = candidateNames.Next(&it.bucket, &it.next);
  }
  for (const auto& [path, name] : sharedNames_)
    PackagedNameTable.Insert(path.c_str(),
                             reinterpret_cast<uint64_t>(strdup((kPackageDirPrefix + name).c_str())));
}

// What the run recorded under a path, for telling the routes of a stream
// apart.
Recorded RecordedUnder(const std::vector<DependencyTracker*>& trackers, const std::string& path) {
  Recorded what = Recorded::Nothing;
  uint64_t unused;
  for (DependencyTracker* tracker : trackers) {
    if (tracker->streams.Contains(path)) return Recorded::Stream;
    if (tracker->textures.Contains(path) || tracker->shaders.Contains(path) ||
        tracker->procedurals.Contains(path))
      what = Recorded::File;
    else if (what == Recorded::Nothing &&
             (tracker->outputs.Contains(path) || tracker->missingTextures.Contains(path) ||
              tracker->udimPatterns.Find(path.c_str(), uint32_t(path.size() + 1), &unused)))
      what = Recorded::Text;
  }
  return what;
}

}  // namespace

std::unordered_map<std::string, bool>& PackageWrites() {
  static std::unordered_map<std::string, bool> writes;
  return writes;
}

void NamePackageContents(const std::vector<DependencyTracker*>& trackers,
                         const ToolOptions& options) {
  PatternTable().clear();
  PackageWrites().clear();
  // Only what the run copies is named: a reference is rewritten only to a
  // file the package holds.
  std::vector<DependencyKind> namedKinds;
  for (DependencyKind kind : {Stream, Texture, Shader, Procedural})
    if (options.kindMask & kind) namedKinds.push_back(kind);
  StreamRouteClasses routes;
  std::vector<std::string> leftOut;
  for (DependencyTracker* tracker : trackers) {
    if (options.kindMask & Stream) {
      for (const std::string* path = tracker->First(Stream); !path->empty();
           path = tracker->Next()) {
        if (StreamCanBeWritten(*tracker, *path, options))
          routes.Add(*path);
        else
          leftOut.push_back(*path);
      }
    }
    routes.Add(tracker->Name());
  }
  routes.Classify([&](const std::string& path) { return RecordedUnder(trackers, path); });
  PackageNamer namer(options, routes);
  for (const std::string& path : leftOut) namer.LeaveOut(path);
  if (options.kindMask & Texture) namer.FindUdimSets(trackers);
  for (DependencyTracker* tracker : trackers)
    for (DependencyKind kind : namedKinds) namer.AssignPackagedNames(*tracker, kind);
  // Top-level streams come last, so that they never take a dependency's
  // first-choice name, but still get names of their own: two inputs
  // /a/shot.rib and /b/shot.rib must not overwrite each other.
  for (DependencyTracker* tracker : trackers) namer.ClaimInput(tracker->Name());
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

void ForEachPackagedPattern(const std::function<void(const std::string&)>& visit) {
  for (const auto& entry : PatternTable()) visit(entry.first);
}

void ClearPackagedNames() {
  PackagedNameTable.Clear(true);
  PatternTable().clear();
  PackageWrites().clear();
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
    if (verbose) PackageNote("%s\n", entry->c_str());
    Enter(changedPaths, *entry);
  }
}
