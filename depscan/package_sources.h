// The files a packaging run reads must survive it, also when the package
// directory is the folder they lie in: no destination may be one of them.
#pragma once

#include <string>
#include <vector>

class DependencyTracker;
struct ToolOptions;

// Notes the identity (device and inode) of every path of PackagedNameTable:
// the dependencies and the input streams of the package. Run after the naming
// phase; an empty table clears the index.
void IndexPackageSources();

// True when both paths exist and name the same file.
bool IsSameFile(const char* a, const char* b);

// Whether destination may be written from source: false, after a message on
// standard error, when destination is source itself or any other file of the
// index. A destination that does not exist yet may always be written.
bool MayWritePackageFile(const std::string& source, const std::string& destination);
// The same, with the destination's file found through `where` (a path
// through the opened package folder) and named `destination` in messages.
bool MayWritePackageFile(const std::string& source, const std::string& destination,
                         const std::string& where);

// True, after "source inside the package directory: <path>" on standard
// error, when the package directory holds, at any depth, an input stream or
// a found dependency of the run (links followed): packaging there would
// write over the shot, or mix copies with originals. Nothing is written
// before this is asked.
bool PackageHoldsASource(const std::vector<DependencyTracker*>& trackers,
                         const ToolOptions& options);
