// Groups of one stream's dependencies that share a relative name while lying
// at different paths: a package has room for only one of them under it.
#pragma once

#include <cstdio>

#include "dependency_kind.h"

class DependencyTracker;
struct ToolOptions;

// Walks the kind's paths in bytewise order; the first later path whose
// relative name was met before opens the group with "[<prefix>] <first path>",
// and every such path prints "<prefix> <path>", all on standard output.
// Of the options only the "-r" roots matter.
void ReportConflicts(DependencyTracker& tracker, DependencyKind kind,
                     const ToolOptions& options, FILE* out = stdout);
