// Turns the input words of the command line into scanned streams.
#pragma once

#include <string>
#include <vector>

class DependencyTracker;
class StreamScans;
class ZpHashTable;
struct ToolOptions;

// The trackers of a run, one per input stream, in the order the streams were
// opened; owned by the caller.
using TrackerList = std::vector<DependencyTracker*>;

// Takes one input path, unless seenInputs already holds it (byte for byte):
// a stream file is handed to scans, which gives it a tracker and scans it
// in its turn; an unreadable file is reported and skipped; a directory,
// when allowDirectory is set, contributes the ".rib" entries directly inside
// it, in directory-reading order (entries that are neither directories nor
// regular files are reported and skipped).
void AddInput(ZpHashTable& seenInputs, StreamScans& scans, const ToolOptions& options,
              const char* path, bool allowDirectory);

// Opens the stream file and scans it into a new tracker; null, with a
// message, when it cannot be opened (or, with regularOnly, when it is not a
// regular file).
DependencyTracker* ScanStreamFile(const ToolOptions& options, const std::string& path,
                                  bool regularOnly);

// Directory-walk callback: appends fullPath to the std::vector<std::string>
// behind user when it ends in ".rib".
void CollectRibEntry(const char* fullPath, const char* name, void* user);
