// Taking paths apart and finding well-known locations.
//
// The splitting functions work on the string alone: both "/" and "\" are
// separators, and a letter followed by ":" at the start is a drive prefix.
// Functions returning char* hand over a heap string; release it with free().
#pragma once

#include <string>

// Last component of `path`; trailing separators are ignored, a root alone
// ("/", "D:/") gives the separator itself.
std::string ZpBaseName(const std::string& path);

// Directory part of `path`: "." when there is no separator (or the drive
// prefix), the root when only the root separator is left, else everything
// before the last separator (after trailing separators are dropped).
std::string ZpDirName(const std::string& path);

// Absolute path with links, "." and ".." resolved. A missing file in an
// existing directory gives the resolved directory + "/" + the name; anything
// else unresolvable is returned unchanged. Empty stays empty.
std::string ZpCanonicalPath(const std::string& path);

// The working directory, or "" when it cannot be found (e.g. removed).
std::string ZpCurrentDirectory();

// "$TMPDIR/name", or "/tmp/name" when TMPDIR is unset. Nothing is created.
char* ZpTemporaryPath(const char* name);

// "$HOME/.config/name"; without HOME, the password database's home of the
// real user (or "" when it has none). Nothing is created. Not thread-safe.
std::string ZpUserConfigPath(const std::string& name);

// Resolved path of the running program, or null.
char* ZpExecutablePath();

// File of the loaded object (program or shared library) that holds this
// library: absolute, with links, "." and ".." resolved, so that a program
// gets the same answer however it was started (by absolute path, along
// PATH, as "./name" or "bin/name", or through a link: the link's target).
// A file that can no longer be resolved gives the loader's name made
// absolute lexically. "" when unknown.
std::string ZpModulePath();
