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
#include "stream_scans.h"
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

}  // namespace

// A ".rib" entry of a directory is read only when it is a regular file: a
// FIFO or a device there would block the run or never end. An input named
// on the command line is read whatever it is, but not for a package, which
// reads each stream a second time to rewrite it: such an input word cannot
// be read, and the run fails.
DependencyTracker* ScanStreamFile(const ToolOptions& options, const std::string& path,
                                  bool inputWord) {
  RibFromFile* source = new RibFromFile(path.c_str(), !inputWord || options.package);
  if (!source->IsRegular()) {
    ScanMessage("tracwell: skipping input file '%s': not a regular file\n", path.c_str());
    delete source;
    if (inputWord) MarkInputUnreadable();
    return nullptr;
  }
  if (!source->IsOpen()) {
    ScanMessage("%scannot open input file '%s' (system error: %s)\n", "tracwell: ", path.c_str(),
                ZpLastErrorText());
    delete source;
    MarkInputUnreadable();
    return nullptr;
  }
  NoteActivity("reading", path.c_str());
  DependencyTracker* tracker = new DependencyTracker(source, path.c_str(), options.kindMask);
  tracker->Scan();
  return tracker;
}

void AddInput(ZpHashTable& seenInputs, StreamScans& scans, const ToolOptions& options,
              const char* path, bool allowDirectory) {
  if (!TakeOnce(seenInputs, path)) return;
  if (!ZpIsDirectory(path)) {
    scans.Add([&options, file = std::string(path), allowDirectory] {
      return ScanStreamFile(options, file, allowDirectory);
    });
    return;
  }
  if (!allowDirectory) return;
  std::vector<std::string> entries;
  if (!ZpWalkDirectory(path, CollectRibEntry, &entries, false)) {
    // Said in its place among the streams' messages.
    std::string why = ZpLastErrorText();
    scans.Add([directory = std::string(path), why]() -> DependencyTracker* {
      ScanMessage("tracwell: cannot open input directory '%s' (system error: %s)\n",
                  directory.c_str(), why.c_str());
      MarkInputUnreadable();
      return nullptr;
    });
  }
  for (const std::string& entry : entries)
    AddInput(seenInputs, scans, options, entry.c_str(), false);
}

void CollectRibEntry(const char* fullPath, const char* /*name*/, void* user) {
  size_t length = std::strlen(fullPath);
  if (length >= 4 && std::memcmp(fullPath + length - 4, ".rib", 4) == 0)
    static_cast<std::vector<std::string>*>(user)->push_back(fullPath);
}
