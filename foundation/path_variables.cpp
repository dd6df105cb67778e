#include "path_variables.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "env_strings.h"
#include "file_utils.h"
#include "path_strings.h"

namespace {

const char kPrefix[] = "VRX_PATH_";
const size_t kPrefixLength = sizeof kPrefix - 1;
const char kInstallName[] = "ZEPHRIN";

// "/x", "\\x" and "?:x" are absolute; so is anything with ":" second.
bool IsAbsolute(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '/') return true;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return true;
  return path.size() >= 2 && path[1] == ':';
}

std::string NormalisedDirectory(const std::string& value) {
  std::string normalised = ZpCollapseSlashes(value);
  ZpStripTrailingSeparators(normalised);
  return normalised;
}

// A substitution made at [start, start + oldLength) by `length` bytes: the
// ranges of the values being expanded around it move with it.
using ActiveRanges = std::vector<std::pair<std::string, size_t>>;

void NoteSubstitution(ActiveRanges& active, const std::string& name, size_t start,
                      size_t oldLength, size_t length) {
  size_t oldEnd = start + oldLength;
  for (auto& range : active) {
    range.second = range.second > oldEnd ? range.second - oldLength + length : start + length;
  }
  active.emplace_back(name, start + length);
}

// Drops the ranges that end at or before `position`; they nest, so the
// innermost is last.
void LeaveRanges(ActiveRanges& active, size_t position) {
  while (!active.empty() && active.back().second <= position) active.pop_back();
}

bool IsActive(const ActiveRanges& active, const std::string& name) {
  for (const auto& range : active) {
    if (range.first == name) return true;
  }
  return false;
}

// Whether replacing `oldLength` bytes of the path by `length` keeps it within
// the longest path.
bool FitsAfterReplacing(const std::string& path, size_t oldLength, size_t length) {
  return path.size() - oldLength + length <= kZpMaxPathLength;
}

// False when the substitution would make the path too long.
bool ExpandLeadingVariable(const std::vector<std::pair<std::string, std::string>>& table,
                           std::string& path, ActiveRanges& active) {
  if (path.size() < 4 || path.compare(0, 2, "${") != 0) return true;
  size_t close = path.find('}');
  if (close == std::string::npos || close < 3) return true;
  std::string name = path.substr(2, close - 2);
  for (const auto& variable : table) {
    if (variable.first != name) continue;
    if (!FitsAfterReplacing(path, close + 1, variable.second.size())) return false;
    path.replace(0, close + 1, variable.second);
    NoteSubstitution(active, name, 0, close + 1, variable.second.size());
    return true;
  }
  return true;
}

// Moves on one past a "$" that starts no substitution; after one, goes on
// from where the value begins, so that the whole substituted text is
// expanded in turn: a value that starts with a reference, and a reference
// right after one whose value is empty, are expanded too. False when a
// bound was reached: values referring to each other can multiply a path's
// length at every level.
bool ExpandEnvironment(std::string& path, ActiveRanges& active) {
  size_t position = 0;
  size_t substitutions = 0;
  while (!path.empty() && position < path.size()) {
    size_t dollar = path.find('$', position);
    if (dollar == std::string::npos) return true;
    position = dollar + 1;
    if (path.size() - dollar < 4 || path[dollar + 1] != '{') continue;
    size_t close = path.find('}', dollar + 2);
    if (close == std::string::npos || close < dollar + 3) continue;
    LeaveRanges(active, dollar);
    std::string name = path.substr(dollar + 2, close - dollar - 2);
    if (IsActive(active, name)) continue;  // would expand itself again
    const char* value = std::getenv(name.c_str());
    if (!value) continue;
    if (++substitutions > kZpMaxPathSubstitutions) return false;
    size_t length = std::strlen(value);
    if (!FitsAfterReplacing(path, close - dollar + 1, length)) return false;
    path.replace(dollar, close - dollar + 1, value, length);
    NoteSubstitution(active, name, dollar, close - dollar + 1, length);
    position = dollar;
  }
  return true;
}

uint64_t AsValue(const char* text) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text));
}

const char* AsText(uint64_t value) {
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
}

}  // namespace

std::string ZpCollapseSlashes(const std::string& path) {
  std::string collapsed;
  collapsed.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/') continue;
    collapsed.push_back(path[i]);
  }
  return collapsed;
}

void ZpStripTrailingSeparators(std::string& path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
}

ZpPathVariables::ZpPathVariables()
    : resolveCache(32, 0.75f), inPlaceCache(32, 0.75f), currentDirectory(ZpCurrentDirectory()) {
  Rebuild();
}

void ZpPathVariables::Rebuild() {
  table.clear();
  for (const std::string& entry : ZpEnvironment()) {
    size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    std::string name = entry.substr(0, equals);
    std::string value = entry.substr(equals + 1);
    if (name.size() <= kPrefixLength || name.compare(0, kPrefixLength, kPrefix) != 0) continue;
    if (!IsAbsolute(value)) continue;
    value = NormalisedDirectory(value);
    if (!value.empty()) table.emplace_back(name, value);
  }
  table.emplace_back(kInstallName, NormalisedDirectory(ZpDirName(ZpDirName(ZpModulePath()))));
  std::stable_sort(table.begin(), table.end(), [](const auto& a, const auto& b) {
    if (a.second.size() != b.second.size()) return a.second.size() > b.second.size();
    return a.first < b.first;
  });
}

void ZpPathVariables::Expand(std::string& path, bool makeAbsolute) {
  if (path.find('$') != std::string::npos) {
    std::string written = path;
    ActiveRanges active;
    // Past a bound the value is left as written.
    if (!ExpandLeadingVariable(table, path, active) || !ExpandEnvironment(path, active)) {
      path = std::move(written);
    }
  }
  if (makeAbsolute && !IsAbsolute(path)) path = currentDirectory + "/" + path;
}

void ZpPathVariables::ExpandNoAbsolute(std::string& path) { Expand(path, false); }

const char* ZpPathVariables::Intern(const std::string& text) {
  return pool.String(pool.Intern(text.c_str()));
}

const char* ZpPathVariables::Resolve(const char* path) {
  if (!path || !*path) return nullptr;
  uint64_t cached;
  if (resolveCache.Find(path, &cached)) return AsText(cached);
  std::string expanded = path;
  Expand(expanded, true);
  if (!ZpFileExists(expanded.c_str())) return nullptr;  // not cached: the disk may change
  const char* interned = Intern(expanded);
  resolveCache.Insert(path, AsValue(interned));
  return interned;
}

const char* ZpPathVariables::ResolveWithSuffixes(const char* base, unsigned count,
                                                 const char* const* suffixes) {
  for (unsigned i = 0; i < count; ++i) {
    std::string candidate = std::string(base ? base : "") + (suffixes[i] ? suffixes[i] : "");
    if (const char* found = Resolve(candidate.c_str())) return found;
  }
  return nullptr;
}

bool ZpPathVariables::ExpandsToItself(const char* path) {
  return !std::strchr(path, '$') && IsAbsolute(path);
}

void ZpPathVariables::ResolveInPlace(const char** path) {
  if (!path || !*path) return;
  // An absolute text without "$" expands to itself whatever the environment
  // says, so the pool alone gives its stable address: one lookup, and no
  // cache entry that would only repeat the text.
  if (ExpandsToItself(*path)) {
    *path = pool.String(pool.Intern(*path));
    return;
  }
  uint64_t cached;
  if (inPlaceCache.Find(*path, &cached)) {
    *path = AsText(cached);
    return;
  }
  std::string expanded = *path;
  Expand(expanded, true);
  const char* interned = Intern(expanded);
  inPlaceCache.Insert(*path, AsValue(interned));
  *path = interned;
}

const char* ZpPathVariables::Contract(const char* path) {
  if (!path || !IsAbsolute(path)) return path;
  std::string collapsed = ZpCollapseSlashes(path);
  for (const auto& [name, value] : table) {
    if (collapsed.compare(0, value.size(), value) != 0) continue;
    if (collapsed.size() != value.size() && collapsed[value.size()] != '/') continue;
    return Intern("${" + name + "}" + collapsed.substr(value.size()));
  }
  return path;
}
