#include "input_collection.h"

#include <cstdio>
#include <cstring>

#include "dependency_tracker.h"
#include "directories.h"
#include "env_strings.h"
#include "hash_table.h"
#include "out_of_memory.h"
#include "rib_source.h"
#include "run_status.h"
#include "tool_options.h"

namespace {

// Records path in seenInputs; false when it was there already.
bool TakeOnce(ZpHashTable& seenInputs, const char* path) {
  uint32_t length = static_cast<uint32_t>(std::strlen(path) + 1);
  uint64_t unused = 0;
  if (seenInputs.Find(path, length, &unused)) return false;
  seenInputs.Insert(path, length, 0);
  return true;
}

// A ".rib" entry of a directory is read only when it is a regular file: a
// FIFO or a device there would block the run or never end. An input named
// on the command line is read whatever it is, but not for a package, which
// reads each stream a second time to rewrite it.
void AddStreamFile(TrackerList& trackers, const ToolOptions& options, const char* path,
                   bool regularOnly) {
  RibFromFile* source = new RibFromFile(path, regularOnly);
  if (!source->IsRegular()) {
    std::fprintf(stderr, "tracwell: skipping input file '%s': not a regular file\n", path);
    delete source;
    return;
  }
  if (!source->IsOpen()) {
    std::fprintf(stderr, "%scannot open input file '%s' (system error: %s)\n", "tracwell: ",
                 path, ZpLastErrorText());
    delete source;
    MarkInputUnreadable();
    return;
  }
  NoteActivity("reading", path);
  DependencyTracker* tracker = new DependencyTracker(source, path, options.kindMask);
  trackers.push_back(tracker);
  tracker->Scan();
}

}  // namespace

void AddInput(ZpHashTable& seenInputs, TrackerList& trackers, const ToolOptions& options,
              const char* path, bool allowDirectory) {
  if (!TakeOnce(seenInputs, path)) return;
  if (!ZpIsDirectory(path)) {
    AddStreamFile(trackers, options, path, !allowDirectory || options.package);
    return;
  }
  if (!allowDirectory) return;
  std::vector<std::string> entries;
  if (!ZpWalkDirectory(path, CollectRibEntry, &entries, false)) {
    std::fprintf(stderr, "tracwell: cannot open input directory '%s' (system error: %s)\n", path,
                 ZpLastErrorText());
    MarkInputUnreadable();
  }
  for (const std::string& entry : entries)
    AddInput(seenInputs, trackers, options, entry.c_str(), false);
}

void CollectRibEntry(const char* fullPath, const char* /*name*/, void* user) {
  size_t length = std::strlen(fullPath);
  if (length >= 4 && std::memcmp(fullPath + length - 4, ".rib", 4) == 0)
    static_cast<std::vector<std::string>*>(user)->push_back(fullPath);
}
