// Packaged names: the path, relative to the package directory, under which a
// dependency is copied, and the "${VRXDIR}/<name>" reference to it that a
// rewritten stream carries.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dependency_kind.h"
#include "hash_table.h"

class DependencyTracker;
struct ToolOptions;

// Process-wide map from a dependency path (as held in the tracker's tables)
// to a malloc'ed "${VRXDIR}/<packaged name>". Built before main, destroyed at
// exit; filled once by NamePackageContents and only read afterwards.
extern ZpTypedHash<const char>& PackagedNameTable;

// Constructs the table on first call (32 buckets, load factor 0.75, not owning
// its values) and registers its destruction at exit; PackagedNameTable is
// bound to it by a static initialiser.
ZpTypedHash<const char>& InitPackagedNameTable();

// The text every packaged reference begins with.
inline constexpr char kPackageDirPrefix[] = "${VRXDIR}/";

// The naming phase of a packaging run: nested streams, textures, shaders and
// procedurals of every tracker in input order, then the top-level streams
// that have no name yet, all in one name space; clashing names get "_N"
// before their extension. The tiles of a UDIM name are named as one set,
// with one rename for all of them when any clashes, so that the pattern
// finds them in the package (and no other file). Fills PackagedNameTable
// and the packaged patterns. With options.verbose, prints the name each
// top-level stream is written under.
void NamePackageContents(const std::vector<DependencyTracker*>& trackers,
                         const ToolOptions& options);

// "${VRXDIR}/<name>" of a UDIM name (as the tracker recorded it) whose
// tiles were named as one set, "UDIM" kept; empty for any other text.
std::string PackagedPattern(const std::string& pattern);
// Calls visit with each UDIM name that PackagedPattern knows.
void ForEachPackagedPattern(const std::function<void(const std::string&)>& visit);

// Forgets every packaged name and pattern (and the writes below).
void ClearPackagedNames();

// The destinations written into the package since the naming phase, and
// whether each was written whole: a file that several names lead to (one
// file, one copy) is written once.
std::unordered_map<std::string, bool>& PackageWrites();

// The packaged name of path without "${VRXDIR}/"; empty when it has none.
std::string PackagedName(const std::string& path);

// Adds to changedPaths the paths of one kind whose references change in the
// package: those holding a separator, and those without one that have a
// packaged name differing from them. With verbose, prints each new one.
void ListChangedFiles(DependencyKind kind, DependencyTracker& tracker, bool verbose,
                      ZpHashTable& changedPaths);
