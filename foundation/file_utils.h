// Single-file services: existence and access tests, sizes and times,
// file-system facts, copying, moving, removing, temporary files.
// Nothing prints; failure shows in the result and errno.
#pragma once

#include <string>

// Absolute path with every link, "." and ".." resolved; the file must exist.
// "" when it cannot be resolved (also for an empty path).
std::string ZpRealPath(const std::string& path);
