// The package folder of a run: opened (and locked) once, so that every
// packaged file is made relative to the folder that was checked, whatever
// happens to its name while the run goes on.
#pragma once

#include <string>

class PackageDirectory;
struct ToolOptions;

// Opens options.packageDir ("." when empty) for the run, waiting while
// another run holds it; false, with a message, when it cannot be opened.
bool OpenRunPackage(const ToolOptions& options);

// The folder OpenRunPackage opened; opened now when it is not open yet or
// another folder is (a single stream written on its own). Null, with a
// message, when it cannot be opened.
const PackageDirectory* RunPackage(const ToolOptions& options);

// True when the folder of `options` is the one open: RunPackage then only
// reads, and copies may run side by side.
bool RunPackageIsOpen(const ToolOptions& options);

// Lets the folder go (and its lock).
void CloseRunPackage();

// A path that reaches the packaged name `name` through the opened folder,
// for reading the package back as it was written.
std::string OpenedPackagePath(const ToolOptions& options, const std::string& name);

// Copies the dependency at `path` into the package as `name`, shrunk by
// `scale` through texmeld when it is a texture texmeld may shrink and
// `scale` is below 1. The file is written under a temporary name in the
// opened package folder and takes its name only when whole. False, after a
// message, when it was not copied (not a regular file, unreadable, not
// writable, or a source of the package in the way): the package is
// incomplete then.
bool CopyIntoRunPackage(const std::string& path, const std::string& name,
                        const ToolOptions& options, float scale = 1.0f);

// Removes what an earlier run left under the packaged name `name` (a stream
// this run leaves out), through the opened folder.
void RemoveFromRunPackage(const ToolOptions& options, const std::string& name);
