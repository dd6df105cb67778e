// Named directory prefixes and the expansion of the file names that scene
// streams carry into absolute paths.
//
// Path variables come from the environment variables whose whole name starts
// "VRX_PATH_" (at least one more character) and holds an absolute path, plus
// "ZEPHRIN", the directory two levels above the module holding this library.
// A file name may start with "${NAME}" of a path variable; "${NAME}" of any
// set environment variable is expanded anywhere, substituted text included;
// the rest is taken against the working directory captured at construction.
//
// A reference met inside the text that the same variable's value produced is
// left as written. A path that would take more than kZpMaxPathSubstitutions
// substitutions, or grow longer than kZpMaxPathLength, is left as written
// whole, so values referring to themselves or to each other cannot expand
// without end.
//
// Results are interned in the object's pool: the same text always gives the
// same pointer, valid until the object is destroyed. Not thread-safe.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "hash_table.h"
#include "string_pool.h"

constexpr size_t kZpMaxPathSubstitutions = 1000;
// The longest path the system accepts (PATH_MAX): a longer text names no
// file.
constexpr size_t kZpMaxPathLength = 4096;

class ZpPathVariables {
 public:
  ZpPathVariables();
  ~ZpPathVariables() = default;
  ZpPathVariables(const ZpPathVariables&) = delete;
  ZpPathVariables& operator=(const ZpPathVariables&) = delete;

  // Refills the table from the environment and the installation directory,
  // longest value first, then by name.
  void Rebuild();

  // Expands in place: a leading path variable, then environment variables,
  // then (makeAbsolute) the working directory in front of a relative result.
  void Expand(std::string& path, bool makeAbsolute);
  void ExpandNoAbsolute(std::string& path);

  // The expanded absolute path when it exists, or null (also for "" and
  // null). Only existing results are cached, by the text given.
  const char* Resolve(const char* path);

  // The first existing Resolve(base + suffixes[i]); null when none or count 0.
  const char* ResolveWithSuffixes(const char* base, unsigned count, const char* const* suffixes);

  // Replaces *path by its expanded, absolute, interned form, without an
  // existence test; cached by the text given. A null *path stays null.
  void ResolveInPlace(const char** path);

  // True when expansion gives the text back unchanged whatever the
  // environment holds: an absolute path without "$".
  static bool ExpandsToItself(const char* path);

  // An absolute path as "${NAME}" of the path variable with the longest
  // matching directory plus the rest (interned); otherwise the argument.
  const char* Contract(const char* path);

  // Members in the order they are built; destroyed in reverse.
  std::vector<std::pair<std::string, std::string>> table;  // (name, value)
  ZpStringPool pool;
  ZpTypedHash<const char> resolveCache;
  ZpTypedHash<const char> inPlaceCache;
  std::string currentDirectory;

 private:
  const char* Intern(const std::string& text);
};

// Copy of `path` with every run of "/" made one "/"; backslashes untouched.
std::string ZpCollapseSlashes(const std::string& path);

// Removes every trailing "/" and "\"; separators alone become empty.
void ZpStripTrailingSeparators(std::string& path);
