#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "disk_knowledge.h"
#include "hash_table.h"

// Existence tests of one tracker, answered from what the whole run knows of
// directories (DiskKnowledge): a path below a directory known to be missing
// is missing, and a name in a directory whose listing has been read is
// looked up in it; everything else is asked of the system. Listings are read
// once a directory has been asked about often (or at once for the tiles of a
// UDIM pattern), by whichever tracker gets there first.
//
// What was learnt earlier only answers for names read since when the
// directory it speaks of is unchanged: once per input read (NewInput), the
// first answer from a listing or from a missing directory checks the stamp
// of that directory (of its parent, for a missing one) with one stat. A file
// that exists when its name is read is therefore always found, also when it
// was made while the run went on (standard input still being read, an
// earlier stream's folder changed before a later stream names it).
//
// Paths are compared as text, as the system resolves them: a path can only
// exist when the text before each of its "/" names an existing directory.
// One object serves one thread; the knowledge behind it is shared.
class ExistenceCache {
 public:
  explicit ExistenceCache(DiskKnowledge& knowledge = DiskKnowledge::Run());
  ExistenceCache(const ExistenceCache&) = delete;
  ExistenceCache& operator=(const ExistenceCache&) = delete;

  // ZpFileExists(path). path[length] must be the terminating NUL, the first
  // NUL of the path.
  bool Exists(const char* path, size_t length);
  bool Exists(const std::string& path) { return Exists(path.c_str(), path.size()); }

  // The numbers n from 1001 to 1999, ascending, for which the pattern with
  // its four bytes at marker replaced by the digits of n names an existing
  // file, as ZpFileExists says.
  std::vector<int> ExistingTiles(const std::string& pattern, size_t marker);

  // More input has been read: names from here on may name files made since,
  // so what the run knows is checked again before it answers.
  void NewInput() { ++input_; }

  // Lets go of this tracker's view (the run's knowledge stays).
  void Forget();

 private:
  using State = DiskKnowledge::State;
  // The tracker's view of one directory, brought up to date once per input
  // read.
  struct Directory {
    DiskKnowledge::Directory* shared = nullptr;
    State state = DiskKnowledge::kUnknown;
    uint64_t checkedAt = 0;  // the input read it was checked at
    // The listing trusted since then, or null: the system answers.
    const DirectoryListing* listing = nullptr;
    bool listingTried = false;  // since then
  };
  // Where a path lies: the directory's text (up to parentLength; "" for the
  // working directory) and, when recorded, the tracker's view of it.
  struct Place {
    size_t parentLength;
    size_t nameStart;
    State state;
    Directory* directory;
  };

  // False when the path is to be asked of the system as it stands.
  bool Locate(const char* path, size_t length, Place* place);
  State LearnDirectories(const char* path, size_t parentLength);
  Directory* Recorded(const char* path, size_t length);
  Directory* Record(const char* path, size_t length);
  void Refresh(Directory& directory, const char* path, size_t length);
  State StillMissing(Directory& directory, const char* path, size_t length);
  State Ask(Directory& directory, const char* path, size_t length);
  const DirectoryListing* Trusted(Directory& directory, const char* path, size_t length,
                                  bool read);
  bool BelowLastMissing(const char* path, size_t parentLength);
  bool Answer(const Place& place, const char* path, size_t length);

  DiskKnowledge& knowledge_;
  uint64_t input_ = 1;
  // Directory texts (without terminating NUL) -> index into records.
  ZpHashTable directories_;
  std::deque<Directory> records_;
  // The missing directory that answered last: paths come in clusters, and
  // a prefix comparison is cheaper than hashing.
  std::string lastMissing_;
  Directory* lastMissingDirectory_ = nullptr;
  // Likewise the directory of the last path that was answered.
  Directory* lastDirectory_ = nullptr;
  std::string lastDirectoryText_;
};
