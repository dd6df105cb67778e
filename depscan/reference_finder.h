// Which recorded file a string of a stream names. The tracker records every
// file name as it spelled it (the stream directory put in for "${RIBDIR}",
// path variables expanded, made absolute); the stream read back through
// "vornex" may spell the same file otherwise ("/shot/tex/a.tif" for the
// recorded "/shot/./tex/a.tif"), and so may the stream itself.
#pragma once

#include <string>
#include <unordered_map>

#include "hash_table.h"

class DependencyTracker;

class ReferenceFinder {
 public:
  // streamName: the name the tracker's scanner read the stream under, whose
  // directory "${RIBDIR}" and "${VRXDIR}" stand for.
  ReferenceFinder(DependencyTracker& tracker, const ZpHashTable& changedPaths,
                  const std::string& streamName);

  // The recorded name (a name of the tracker's name map, a changed path or a
  // UDIM pattern with a packaged form) that a quoted string spells, raw being
  // its bytes as written; empty when it names nothing that changes. Any
  // string counts when it spells the name exactly; a file name (fileName:
  // a parameter value the tracker reads as one) also in any other spelling
  // of the same path.
  std::string Find(const std::string& raw, bool fileName);

 private:
  bool Names(const std::string& key) const;
  // False when no spelling of raw can be a recorded name: its last step is
  // the last step of none of them (nor of their normal forms), and nothing
  // in it (an escape, a variable, a last step of "." or "..") can change it.
  bool MayName(const std::string& raw);
  std::string AsTrackerSpellsIt(const std::string& text) const;
  // Normal spelling -> recorded name, for the recorded names not normal.
  const std::unordered_map<std::string, std::string>& NormalSpellings();

  DependencyTracker& tracker_;
  const ZpHashTable& changedPaths_;
  std::string streamDirectory_;
  bool indexed_ = false;
  bool lastStepsIndexed_ = false;
  ZpHashTable lastSteps_;  // the last steps of every name Find can return
  std::unordered_map<std::string, std::string> normalSpellings_;
};
