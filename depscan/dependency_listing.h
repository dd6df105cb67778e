// The listing of one stream: a line "<prefix> <path>" per dependency.
#pragma once

#include <cstdint>
#include <cstdio>

class DependencyTracker;

// Prints to out (standard output), for each kind of kindMask in ascending bit order
// (shaders, textures, outputs, nested streams, procedurals, then the four
// not-found kinds), the kind's paths in bytewise order, each as its prefix,
// a blank and the path.
void PrintTrackerListing(DependencyTracker& tracker, uint32_t kindMask, FILE* out = stdout);
