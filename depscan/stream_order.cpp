#include "stream_order.h"

#include <cstdio>

#include "dependency_tracker.h"
#include "relative_path.h"

namespace {

bool Holds(const ZpHashTable& set, const std::string& key) {
  uint64_t unused;
  return set.Find(key.c_str(), uint32_t(key.size() + 1), &unused);
}

void Enter(ZpHashTable& set, const std::string& key) {
  set.Insert(key.c_str(), uint32_t(key.size() + 1), 0);
}

bool PredecessorsDone(const StreamNode& node) {
  for (const StreamNode* predecessor : node.predecessors)
    if (!predecessor->done) return false;
  return true;
}

void PrintName(const StreamNode& node) {
  if (MayPrintName(node.tracker->Name())) std::printf("%s\n", node.tracker->Name());
}

// Prints the nodes of one pass whose predecessors are all done; the others
// wait for the next pass. Returns whether anything was printed.
bool RunPass(std::vector<StreamNode*>& pending) {
  std::vector<StreamNode*> pass;
  pass.swap(pending);
  std::vector<StreamNode*> ready;
  for (StreamNode* node : pass) {
    if (!PredecessorsDone(*node)) {
      pending.push_back(node);
      continue;
    }
    PrintName(*node);
    ready.push_back(node);
  }
  for (StreamNode* node : ready) node->done = true;
  return !ready.empty();
}

}  // namespace

StreamNode::StreamNode(DependencyTracker* tracker, const ToolOptions& options)
    : tracker(tracker), done(false), textureNames(32, 0.75f), outputCursor(0) {
  Fill(options);
}

void StreamNode::Fill(const ToolOptions& options) {
  for (DependencyKind kind : {Texture, MissingTexture}) {
    for (const std::string* path = tracker->First(kind);; path = tracker->Next()) {
      std::string name = SplitRelativePath(options, *path);
      if (name.empty()) break;
      Enter(textureNames, name);
    }
  }
  for (const std::string* path = tracker->First(Output);; path = tracker->Next()) {
    std::string name = SplitRelativePath(options, *path);
    if (name.empty()) break;
    outputNames.push_back(name);
  }
}

void LinkStreamNodes(StreamNode& from, StreamNode& to, ZpHashTable& producedNames) {
  if (&from == &to) return;
  bool matched = false;
  for (from.outputCursor = 0; from.outputCursor < from.outputNames.size(); ++from.outputCursor) {
    const std::string& name = from.outputNames[from.outputCursor];
    if (name.empty()) break;
    if (!Holds(to.textureNames, name)) continue;
    Enter(producedNames, name);
    matched = true;
  }
  if (!matched) return;
  from.successors.push_back(&to);
  to.predecessors.push_back(&from);
}

void LinkAllStreamNodes(const std::vector<StreamNode*>& nodes, ZpHashTable& producedNames) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    for (size_t j = i + 1; j < nodes.size(); ++j) {
      LinkStreamNodes(*nodes[i], *nodes[j], producedNames);
      LinkStreamNodes(*nodes[j], *nodes[i], producedNames);
    }
  }
}

void PrintStreamOrder(const std::vector<StreamNode*>& nodes) {
  std::vector<StreamNode*> pending;
  for (StreamNode* node : nodes) {
    if (node->tracker->First(Output)->empty()) {
      node->done = true;
    } else if (PredecessorsDone(*node)) {
      PrintName(*node);
      node->done = true;
    } else {
      pending.push_back(node);
    }
  }
  while (!pending.empty()) {
    if (RunPass(pending) || pending.empty()) continue;
    StreamNode* last = pending.back();
    pending.pop_back();
    PrintName(*last);
    last->done = true;
  }
}
