#include "directories.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

namespace {

// The directory bit alone, not the whole file-type field.
constexpr mode_t kDirectoryBit = 0x4000;

bool HasDirectoryBit(const char* path) {
  struct stat info;
  return lstat(path, &info) == 0 && (info.st_mode & kDirectoryBit) != 0;
}

bool IsDotOrDotDot(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

}  // namespace

bool ZpIsDirectory(const char* path) { return HasDirectoryBit(path); }

bool ZpWalkDirectory(const char* directory, ZpWalkCallback callback, void* user,
                     bool subdirectories) {
  DIR* stream = opendir(directory);
  if (!stream) return false;
  bool result = true;
  // Growable, so entries below deep directories are never cut or skipped.
  std::string fullPath = directory;
  fullPath += '/';
  const size_t prefixLength = fullPath.size();
  while (struct dirent* entry = readdir(stream)) {
    if (IsDotOrDotDot(entry->d_name)) continue;
    fullPath.resize(prefixLength);
    fullPath += entry->d_name;
    if (!subdirectories) {
      callback(fullPath.c_str(), entry->d_name, user);
    } else if (HasDirectoryBit(fullPath.c_str())) {
      if (!ZpWalkDirectory(fullPath.c_str(), callback, user, false)) result = false;
    }
  }
  closedir(stream);
  return result;
}

bool ZpMakeDirectory(const char* path) { return mkdir(path, 0777) == 0; }
