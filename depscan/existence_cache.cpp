#include "existence_cache.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "file_utils.h"

namespace {

// Longer paths, and paths once the table is this full, are asked of the
// system without learning anything: what the cache keeps stays small
// whatever a stream names.
constexpr size_t kMaxLearntLength = 1024;
constexpr uint32_t kMaxDirectories = 1 << 16;
// A directory's listing is read at the test of this many names in it, or at
// once for the 999 tiles of a UDIM pattern; what the listings hold is
// bounded, and a directory beyond the bound is asked name by name.
constexpr uint32_t kTestsBeforeListing = 16;
constexpr size_t kMaxNamesPerListing = size_t{1} << 18;
constexpr size_t kMaxListedNames = size_t{1} << 20;

constexpr int kFirstTile = 1001;
constexpr int kLastTile = 1999;

void WriteTile(std::string& path, size_t marker, int tile) {
  for (int i = 3; i >= 0; --i, tile /= 10) path[marker + i] = static_cast<char>('0' + tile % 10);
}

}  // namespace

ExistenceCache::ExistenceCache() : directories(32, 0.75f) {}

void ExistenceCache::Forget() {
  directories.Clear(false);
  records.clear();
  lastMissing.clear();
  listedNames = 0;
}

bool ExistenceCache::Exists(const char* path, size_t length) {
  Place place;
  if (!Locate(path, length, &place)) return ZpFileExists(path);
  if (place.state == kMissing) return false;
  return Answer(place, path, length);
}

ExistenceCache::State ExistenceCache::AccessState(const char* path) {
  if (ZpFileExists(path)) return kPresent;
  return errno == ENOENT || errno == ENOTDIR ? kMissing : kUnknown;
}

bool ExistenceCache::Locate(const char* path, size_t length, Place* place) {
  // The system reads the path up to its first NUL.
  if (length > kMaxLearntLength || std::memchr(path, '\0', length)) return false;
  const char* slash = static_cast<const char*>(memrchr(path, '/', length));
  if (slash == path) return false;  // the root itself is never recorded
  size_t parent = slash ? static_cast<size_t>(slash - path) : 0;
  *place = Place{parent, slash ? parent + 1 : 0, kUnknown, nullptr};
  if (slash && BelowLastMissing(path, parent)) {
    place->state = kMissing;
    return true;
  }
  place->directory = Recorded(path, parent);
  if (!place->directory) {
    // Without a "/" the path is a name in the working directory.
    State state = slash ? LearnDirectories(path, parent) : AccessState(".");
    if (!slash && state != kUnknown) Record(path, 0, state);
    place->directory = Recorded(path, parent);
    place->state = state;
  } else {
    place->state = place->directory->state;
  }
  return place->state != kUnknown;
}

// Walks the directories of the path from the top down to its parent, asking
// the system about those not known yet; the first missing one answers.
ExistenceCache::State ExistenceCache::LearnDirectories(const char* path, size_t parentLength) {
  std::string directory;
  for (size_t end = 1; end <= parentLength; ++end) {
    if (end != parentLength && path[end] != '/') continue;
    Directory* known = Recorded(path, end);
    State state = known ? known->state : kUnknown;
    if (!known) {
      directory.assign(path, end);
      state = AccessState(directory.c_str());
      if (state != kUnknown) Record(path, end, state);
    }
    if (state == kMissing) {
      lastMissing.assign(path, end);
      return kMissing;
    }
    if (state == kUnknown) return kUnknown;  // the path itself is asked
  }
  return kPresent;
}

ExistenceCache::Directory* ExistenceCache::Recorded(const char* path, size_t length) const {
  uint64_t index = 0;
  if (!directories.Find(path, static_cast<uint32_t>(length), &index)) return nullptr;
  return const_cast<Directory*>(&records[index]);
}

ExistenceCache::Directory* ExistenceCache::Record(const char* path, size_t length, State state) {
  if (directories.count >= kMaxDirectories) return nullptr;
  directories.Insert(path, static_cast<uint32_t>(length), records.size());
  records.emplace_back();
  records.back().state = state;
  return &records.back();
}

// The directory itself, or one below it: the text goes on with "/".
bool ExistenceCache::BelowLastMissing(const char* path, size_t parentLength) const {
  size_t length = lastMissing.size();
  return length != 0 && length <= parentLength && path[length] == '/' &&
         memcmp(path, lastMissing.data(), length) == 0;
}

DirectoryListing* ExistenceCache::Listing(Directory& directory, const char* path, size_t length) {
  if (directory.listingTried) return directory.listing.get();
  directory.listingTried = true;
  if (listedNames >= kMaxListedNames) return nullptr;
  auto listing = std::make_unique<DirectoryListing>();
  size_t room = std::min(kMaxNamesPerListing, kMaxListedNames - listedNames);
  if (!listing->Read(std::string(path, length), room)) return nullptr;
  listedNames += listing->Size();
  directory.listing = std::move(listing);
  return directory.listing.get();
}

// A path in an existing (or not yet known to be missing) directory.
bool ExistenceCache::Answer(const Place& place, const char* path, size_t length) {
  Directory* directory = place.directory;
  if (!directory) return ZpFileExists(path);
  DirectoryListing* listing = directory->listing.get();
  if (!listing && !directory->listingTried && ++directory->tests >= kTestsBeforeListing) {
    listing = Listing(*directory, path, place.parentLength);
  }
  if (listing) {
    std::string_view name(path + place.nameStart, length - place.nameStart);
    switch (listing->Find(name)) {
      case DirectoryListing::Answer::kMissing: return false;
      case DirectoryListing::Answer::kPresent: return true;
      case DirectoryListing::Answer::kAsk: break;
    }
  }
  return ZpFileExists(path);
}

std::vector<int> ExistenceCache::ExistingTiles(const std::string& pattern, size_t marker) {
  std::vector<int> tiles;
  std::string tile = pattern;
  Place place;
  // With the marker in the last name, every tile lies in one directory.
  if (Locate(pattern.c_str(), pattern.size(), &place) && marker >= place.nameStart) {
    if (place.state == kMissing) return tiles;
    DirectoryListing* listing =
        place.directory ? Listing(*place.directory, pattern.c_str(), place.parentLength) : nullptr;
    if (listing) {
      for (uint16_t n : listing->Tiles(std::string_view(pattern).substr(place.nameStart))) {
        WriteTile(tile, marker, n);
        auto answer = listing->Find(std::string_view(tile).substr(place.nameStart));
        if (answer == DirectoryListing::Answer::kPresent ||
            (answer == DirectoryListing::Answer::kAsk && ZpFileExists(tile.c_str()))) {
          tiles.push_back(n);
        }
      }
      return tiles;
    }
  }
  for (int n = kFirstTile; n <= kLastTile; ++n) {
    WriteTile(tile, marker, n);
    if (Exists(tile)) tiles.push_back(n);
  }
  return tiles;
}
