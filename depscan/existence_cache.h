#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "directory_listing.h"
#include "hash_table.h"

// Existence tests for one scan that remember what they learnt about
// directories: once a directory is known to be missing, every path below it
// is answered without a system call; once a directory has been asked about
// often (or for the tiles of a UDIM pattern), its listing is read and answers
// for the names in it. A file that exists when its directory is first
// looked at is always found; only what is created during the scan may be
// missed, which is why a tracker keeps one of these for its scan alone, and
// nothing writes files while a stream is scanned.
//
// Paths are compared as text, as the system resolves them: a path can only
// exist when the text before each of its "/" names an existing directory.
class ExistenceCache {
 public:
  ExistenceCache();
  ExistenceCache(const ExistenceCache&) = delete;
  ExistenceCache& operator=(const ExistenceCache&) = delete;

  // ZpFileExists(path). path[length] must be the terminating NUL.
  bool Exists(const char* path, size_t length);
  bool Exists(const std::string& path) { return Exists(path.c_str(), path.size()); }

  // The numbers n from 1001 to 1999, ascending, for which the pattern with
  // its four bytes at marker replaced by the digits of n names an existing
  // file, as ZpFileExists says.
  std::vector<int> ExistingTiles(const std::string& pattern, size_t marker);

  // Lets go of everything learnt, as at construction.
  void Forget();

 private:
  // kUnknown also stands for a failure that says nothing lasting (neither
  // ENOENT nor ENOTDIR), which is never recorded.
  enum State : uint8_t { kUnknown = 0, kPresent = 1, kMissing = 2 };
  struct Directory {
    State state = kUnknown;
    bool listingTried = false;
    uint32_t tests = 0;
    std::unique_ptr<DirectoryListing> listing;
  };
  // Where a path lies: the directory's text (up to parentLength; "" for the
  // working directory), its state and, when recorded, its record.
  struct Place {
    size_t parentLength;
    size_t nameStart;
    State state;
    Directory* directory;
  };

  static State AccessState(const char* path);
  // False when the path is to be asked of the system as it stands.
  bool Locate(const char* path, size_t length, Place* place);
  State LearnDirectories(const char* path, size_t parentLength);
  Directory* Recorded(const char* path, size_t length) const;
  Directory* Record(const char* path, size_t length, State state);
  bool BelowLastMissing(const char* path, size_t parentLength) const;
  DirectoryListing* Listing(Directory& directory, const char* path, size_t length);
  bool Answer(const Place& place, const char* path, size_t length);

  // Directory texts (without terminating NUL) -> index into records.
  ZpHashTable directories;
  std::deque<Directory> records;
  // The missing directory that answered last: paths come in clusters, and
  // a prefix comparison is cheaper than hashing.
  std::string lastMissing;
  // Names held by all listings, kept within a bound.
  size_t listedNames = 0;
};
