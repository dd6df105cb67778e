// The package checks itself: after it has been written, every packaged
// input stream is read back as a listing run would read it, and every
// dependency that the run found for the source stream must be found in
// the package, as a file the package holds.
#pragma once

#include <vector>

#include "hash_table.h"

class DependencyTracker;
struct ToolOptions;

// Reads every packaged input stream of trackers back and reports, with
// "#Not in the package: ...", each found dependency of the kinds packaged
// that it does not reach inside the package (textures another stream
// renders aside; a shrunk texture counts when its copy is there); each
// failure marks the package incomplete. What the shot itself lacks is not
// looked for.
void CheckPackage(const std::vector<DependencyTracker*>& trackers, const ToolOptions& options,
                  const ZpHashTable& producedNames);
