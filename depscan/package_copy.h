// The package build: packaged names, the rewriting of every input stream,
// then the copy of every dependency (textures shrunk through "texmeld").
#pragma once

#include <vector>

#include "hash_table.h"

class DependencyTracker;
struct ToolOptions;

// Builds the package in options.packageDir, which exists. producedNames holds
// the names that one input stream renders and another reads as a texture:
// those textures are produced, not copied.
void BuildPackage(ToolOptions& options, const std::vector<DependencyTracker*>& trackers,
                  const ZpHashTable& producedNames);

// Copies the dependencies of one tracker whose kinds are in options.kindMask,
// reports the missing ones, then rewrites its nested streams (verbose off
// meanwhile).
void CopyTrackerFiles(DependencyTracker& tracker, ToolOptions& options,
                      const ZpHashTable& producedNames);
