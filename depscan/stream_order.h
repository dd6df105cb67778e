// Render order of the input streams: a stream that renders an image another
// stream reads as a texture has to be rendered first.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "hash_table.h"

class DependencyTracker;
struct ToolOptions;

// One input stream with the relative names of its textures and outputs.
struct StreamNode {
  StreamNode(DependencyTracker* tracker, const ToolOptions& options);
  StreamNode(const StreamNode&) = delete;
  StreamNode& operator=(const StreamNode&) = delete;

  // Collects the relative names of the tracker's textures (found or not) and
  // of its output images.
  void Fill(const ToolOptions& options);

  std::vector<StreamNode*> successors;    // use an output image of this node
  std::vector<StreamNode*> predecessors;  // produce an image this node uses
  DependencyTracker* tracker;
  bool done;
  ZpHashTable textureNames;  // set: relative name with its NUL, value 0
  std::vector<std::string> outputNames;
  size_t outputCursor;
};

// Adds the edge from -> to (at most one per call, never a self edge) when an
// output name of from is a texture name of to; every such name goes into
// producedNames.
void LinkStreamNodes(StreamNode& from, StreamNode& to, ZpHashTable& producedNames);

// LinkStreamNodes for every pair i < j, (i, j) then (j, i).
void LinkAllStreamNodes(const std::vector<StreamNode*>& nodes, ZpHashTable& producedNames);

// Prints the names of the streams that produce images, one per line on
// standard output, producers before consumers, one level per pass; a cycle is
// broken by printing the last waiting node.
void PrintStreamOrder(const std::vector<StreamNode*>& nodes);
