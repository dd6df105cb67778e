// Files by identity: one file may be spelled many ways (through linked
// folders, "." and ".." steps), and only its device and inode tell.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <utility>

using FileIdentity = std::pair<dev_t, ino_t>;

// The identity of the file path names (links followed); false when it
// cannot be examined.
inline bool IdentifyFile(const char* path, FileIdentity* identity) {
  struct stat info;
  if (stat(path, &info) != 0) return false;
  *identity = FileIdentity(info.st_dev, info.st_ino);
  return true;
}
inline bool IdentifyFile(const std::string& path, FileIdentity* identity) {
  return IdentifyFile(path.c_str(), identity);
}
