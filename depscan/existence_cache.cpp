#include "existence_cache.h"

#include <cerrno>
#include <cstring>

#include "file_utils.h"

namespace {

// Length of the text before the last "/"; 0 when there is none, or when the
// only "/" is the first character (the root itself is never recorded).
size_t ParentLength(const char* path, size_t length) {
  const void* slash = memrchr(path, '/', length);
  return slash ? static_cast<size_t>(static_cast<const char*>(slash) - path) : 0;
}

}  // namespace

ExistenceCache::ExistenceCache() : directories(32, 0.75f) {}

bool ExistenceCache::Exists(const char* path, size_t length) {
  return Test(path, length) == kPresent;
}

ExistenceCache::State ExistenceCache::Test(const char* path, size_t length) {
  size_t parent = ParentLength(path, length);
  if (BelowLastMissing(path, parent)) return kMissing;
  State parentState = parent == 0 ? kPresent : Recorded(path, parent);
  if (parentState == kMissing) return kMissing;
  if (parentState == kUnknown && BelowMissingDirectory(path, parent)) return kMissing;
  State state = kPresent;
  if (!ZpFileExists(path)) state = errno == ENOENT || errno == ENOTDIR ? kMissing : kUnknown;
  if (parentState == kUnknown) {
    // An existing path proves its directory; a missing one sends us up.
    State learnt = state == kPresent ? kPresent : TestPrefix(path, parent);
    if (learnt != kUnknown) directories.Insert(path, static_cast<uint32_t>(parent), learnt);
  }
  return state;
}

ExistenceCache::State ExistenceCache::TestPrefix(const char* path, size_t length) {
  std::string prefix(path, length);
  return Test(prefix.c_str(), length);
}

ExistenceCache::State ExistenceCache::Recorded(const char* path, size_t length) const {
  uint64_t state = kUnknown;
  directories.Find(path, static_cast<uint32_t>(length), &state);
  return static_cast<State>(state);
}

// Shortest prefix first: in a tree that does not exist at all, the first
// lookup already answers.
bool ExistenceCache::BelowMissingDirectory(const char* path, size_t parentLength) {
  if (directories.count == 0) return false;
  for (const char* slash = path; ; ++slash) {
    slash = static_cast<const char*>(memchr(slash, '/', parentLength - (slash - path)));
    if (!slash) return false;
    size_t length = static_cast<size_t>(slash - path);
    if (length != 0 && Recorded(path, length) == kMissing) {
      lastMissing.assign(path, length);
      return true;
    }
  }
}

// The directory itself, or one below it: the text goes on with "/".
bool ExistenceCache::BelowLastMissing(const char* path, size_t parentLength) const {
  size_t length = lastMissing.size();
  return length != 0 && length <= parentLength && path[length] == '/' &&
         memcmp(path, lastMissing.data(), length) == 0;
}
