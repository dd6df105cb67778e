#pragma once

#include <cstddef>
#include <string>

#include "hash_table.h"

// Existence tests for one scan that remember what they learnt about
// directories: once a directory is known to be missing, every path below it
// is answered without a system call. Existing files and paths below existing
// directories are always asked again, so only missing directories are taken
// on trust; that holds while nothing creates directories during the scan,
// which is why a tracker keeps one of these for its scan alone.
//
// Paths are compared as text, as the system resolves them: a path can only
// exist when the text before each of its "/" names an existing directory.
class ExistenceCache {
 public:
  ExistenceCache();
  ExistenceCache(const ExistenceCache&) = delete;
  ExistenceCache& operator=(const ExistenceCache&) = delete;

  // ZpFileExists(path), answered from a known missing directory when the
  // path lies below one. path[length] must be the terminating NUL.
  bool Exists(const char* path, size_t length);
  bool Exists(const std::string& path) { return Exists(path.c_str(), path.size()); }

 private:
  // kUnknown also stands for a failure that says nothing lasting (neither
  // ENOENT nor ENOTDIR), which is never recorded.
  enum State : uint64_t { kUnknown = 0, kPresent = 1, kMissing = 2 };

  static State AccessState(const char* path);
  State LearnDirectories(const char* path, size_t parentLength);
  State Recorded(const char* path, size_t length) const;
  bool BelowLastMissing(const char* path, size_t parentLength) const;

  // Directory texts (without terminating NUL) -> State.
  ZpHashTable directories;
  // The missing directory that answered last: paths come in clusters, and
  // a prefix comparison is cheaper than hashing.
  std::string lastMissing;
};
