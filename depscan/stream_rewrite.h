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
// references tracker recorded) to its place in options.packageDir. Reports
// failures on standard error and goes on; prints its notes with
// options.verbose. Never writes over the stream itself, and never leaves an
// empty or cut-off stream behind when "vornex" fails.
void RewriteStream(DependencyTracker& tracker, const char* name, const ToolOptions& options);

// The string-by-string copy: every byte outside double quotes is written as
// read; a quoted string that names a path of changedPaths is replaced by its
// packaged reference (".oso" left off) or, without one, its relative name.
void RewriteStrings(FILE* in, FILE* out, DependencyTracker& tracker,
                    const ZpHashTable& changedPaths, const ToolOptions& options);

// True when path is an uncompressed stream without binary tokens, which can
// be rewritten without "vornex".
bool IsPlainAsciiStream(const char* path);
