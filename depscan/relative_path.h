// The relative name of a dependency: the name it has inside a package and by
// which the conflict report groups paths.
#pragma once

#include <string>

struct ToolOptions;

// The part of path below the first "-r" root that is a byte prefix of it, with
// leading separators dropped (a lone separator stays); otherwise the text after
// the last separator. "/" and "\" both separate; a path without any separator
// is its own relative name.
std::string SplitRelativePath(const ToolOptions& options, const std::string& path);
