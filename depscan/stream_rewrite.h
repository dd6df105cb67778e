// Writes one scene stream into the package: copied byte for byte when none of
// its references change, else read back as ASCII through "vornex" with every
// changed reference replaced by its packaged form.
#pragma once

#include <cstdio>
#include <string>

#include "hash_table.h"

class DependencyTracker;
struct ToolOptions;

// Writes the stream at name (an input stream, or a nested stream whose
// references tracker recorded) to its place in options.packageDir.
// producedNames holds the names that one input stream renders and another
// reads as a texture. Reports failures on standard error and goes on;
// prints its notes with options.verbose. Never writes over the stream
// itself, and never leaves an empty or cut-off stream behind when "vornex"
// fails.
void RewriteStream(DependencyTracker& tracker, const char* name, const ToolOptions& options,
                   const ZpHashTable& producedNames);

// What rewriting the strings of one stream needs to know.
struct StringRewriteSettings {
  DependencyTracker& tracker;
  const ZpHashTable& changedPaths;
  const ToolOptions& options;
  const ZpHashTable& producedNames;
  std::string streamName;  // as the tracker read it: "${RIBDIR}" is its folder
  int depth;               // folders between the package directory and the stream
};

// The string-by-string copy: every byte outside quoted strings is written as
// read, comments included; a quoted string that names a path of changedPaths
// is replaced by its packaged reference as seen from the stream's folder
// (".oso" left off), a UDIM name by its packaged pattern, an output image or
// a texture another stream renders by its relative name, and any other
// changed path by its relative name.
void RewriteStrings(FILE* in, FILE* out, const StringRewriteSettings& settings);

// True when path is an uncompressed stream without binary tokens, which can
// be rewritten without "vornex".
bool IsPlainAsciiStream(const char* path);

// The number of folders in a packaged name ("seq/shot.rib": 1), "." steps
// and empty steps not counted.
int FolderDepth(const std::string& packagedName);
