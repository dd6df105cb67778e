#include "existence_cache.h"

#include <cerrno>
#include <cstring>

#include "file_utils.h"

namespace {

// Longer paths, and paths once the table is this full, are asked of the
// system without learning anything: what the cache keeps stays small
// whatever a stream names.
constexpr size_t kMaxLearntLength = 1024;
constexpr uint32_t kMaxDirectories = 1 << 16;

// Length of the text before the last "/"; 0 when there is none, or when the
// only "/" is the first character (the root itself is never recorded).
size_t ParentLength(const char* path, size_t length) {
  const void* slash = memrchr(path, '/', length);
  return slash ? static_cast<size_t>(static_cast<const char*>(slash) - path) : 0;
}

}  // namespace

ExistenceCache::ExistenceCache() : directories(32, 0.75f) {}

bool ExistenceCache::Exists(const char* path, size_t length) {
  size_t parent = length <= kMaxLearntLength ? ParentLength(path, length) : 0;
  if (parent != 0) {
    if (BelowLastMissing(path, parent)) return false;
    State state = Recorded(path, parent);
    if (state == kUnknown) state = LearnDirectories(path, parent);
    if (state == kMissing) return false;
  }
  return ZpFileExists(path);
}

ExistenceCache::State ExistenceCache::AccessState(const char* path) {
  if (ZpFileExists(path)) return kPresent;
  return errno == ENOENT || errno == ENOTDIR ? kMissing : kUnknown;
}

// Walks the directories of the path from the top down to its parent, asking
// the system about those not known yet; the first missing one answers.
ExistenceCache::State ExistenceCache::LearnDirectories(const char* path, size_t parentLength) {
  std::string directory;
  for (size_t end = 1; end <= parentLength; ++end) {
    if (end != parentLength && path[end] != '/') continue;
    State state = Recorded(path, end);
    if (state == kUnknown) {
      directory.assign(path, end);
      state = AccessState(directory.c_str());
      if (state != kUnknown && directories.count < kMaxDirectories) {
        directories.Insert(path, static_cast<uint32_t>(end), state);
      }
    }
    if (state == kMissing) {
      lastMissing.assign(path, end);
      return kMissing;
    }
    if (state == kUnknown) return kUnknown;  // the path itself is asked
  }
  return kPresent;
}

ExistenceCache::State ExistenceCache::Recorded(const char* path, size_t length) const {
  uint64_t state = kUnknown;
  directories.Find(path, static_cast<uint32_t>(length), &state);
  return static_cast<State>(state);
}

// The directory itself, or one below it: the text goes on with "/".
bool ExistenceCache::BelowLastMissing(const char* path, size_t parentLength) const {
  size_t length = lastMissing.size();
  return length != 0 && length <= parentLength && path[length] == '/' &&
         memcmp(path, lastMissing.data(), length) == 0;
}
