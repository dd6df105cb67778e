#include "existence_cache.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "file_utils.h"

namespace {

// Longer paths, and paths once the tracker knows this many directories, are
// asked of the system without learning anything.
constexpr size_t kMaxLearntLength = 1024;
constexpr uint32_t kMaxDirectories = 1 << 16;
// A directory's listing is read at the test of this many names in it (over
// the whole run), or at once for the 999 tiles of a UDIM pattern.
constexpr uint32_t kTestsBeforeListing = 16;

constexpr int kFirstTile = 1001;
constexpr int kLastTile = 1999;

void WriteTile(std::string& path, size_t marker, int tile) {
  for (int i = 3; i >= 0; --i, tile /= 10) path[marker + i] = static_cast<char>('0' + tile % 10);
}

// kUnknown also stands for a failure that says nothing lasting (neither
// ENOENT nor ENOTDIR).
DiskKnowledge::State AccessState(const char* path) {
  if (ZpFileExists(path)) return DiskKnowledge::kPresent;
  return errno == ENOENT || errno == ENOTDIR ? DiskKnowledge::kMissing : DiskKnowledge::kUnknown;
}

// The parent directory's text of a directory text: "/" for "/x", "" (the
// working directory) for a name without "/".
std::string ParentText(const char* path, size_t length) {
  const char* slash = static_cast<const char*>(memrchr(path, '/', length));
  if (!slash) return std::string();
  if (slash == path) return "/";
  return std::string(path, static_cast<size_t>(slash - path));
}

}  // namespace

ExistenceCache::ExistenceCache(DiskKnowledge& knowledge)
    : knowledge_(knowledge), directories_(32, 0.75f) {}

void ExistenceCache::Forget() {
  directories_.Clear(false);
  records_.clear();
  lastMissing_.clear();
  lastMissingDirectory_ = nullptr;
  lastDirectory_ = nullptr;
  lastDirectoryText_.clear();
}

bool ExistenceCache::Exists(const char* path, size_t length) {
  Place place;
  if (!Locate(path, length, &place)) return ZpFileExists(path);
  if (place.state == DiskKnowledge::kMissing) return false;
  return Answer(place, path, length);
}

bool ExistenceCache::Locate(const char* path, size_t length, Place* place) {
  if (length > kMaxLearntLength) return false;
  const char* slash = static_cast<const char*>(memrchr(path, '/', length));
  if (slash == path) return false;  // the root itself is never recorded
  size_t parent = slash ? static_cast<size_t>(slash - path) : 0;
  *place = Place{parent, slash ? parent + 1 : 0, DiskKnowledge::kUnknown, nullptr};
  if (slash && BelowLastMissing(path, parent)) {
    place->state = DiskKnowledge::kMissing;
    return true;
  }
  if (lastDirectory_ && lastDirectoryText_.size() == parent &&
      memcmp(path, lastDirectoryText_.data(), parent) == 0) {
    Refresh(*lastDirectory_, path, parent);
    place->directory = lastDirectory_;
    place->state = lastDirectory_->state;
    return place->state != DiskKnowledge::kUnknown;
  }
  // Without a "/" the path is a name in the working directory, which is
  // never taken for missing.
  place->state = slash ? LearnDirectories(path, parent) : DiskKnowledge::kPresent;
  if (place->state != DiskKnowledge::kMissing) {
    place->directory = Recorded(path, parent);
    if (!place->directory) place->directory = Record(path, parent);
    if (place->directory) {
      Refresh(*place->directory, path, parent);
      place->state = place->directory->state;
      lastDirectory_ = place->directory;
      lastDirectoryText_.assign(path, parent);
    }
  }
  return place->state != DiskKnowledge::kUnknown;
}

// Walks the directories of the path from the top down to its parent; the
// first missing one answers.
ExistenceCache::State ExistenceCache::LearnDirectories(const char* path, size_t parentLength) {
  for (size_t end = 1; end <= parentLength; ++end) {
    if (end != parentLength && path[end] != '/') continue;
    Directory* directory = Recorded(path, end);
    if (!directory) directory = Record(path, end);
    if (!directory) return DiskKnowledge::kUnknown;  // the path itself is asked
    Refresh(*directory, path, end);
    if (directory->state == DiskKnowledge::kMissing) {
      lastMissing_.assign(path, end);
      lastMissingDirectory_ = directory;
      return DiskKnowledge::kMissing;
    }
    if (directory->state == DiskKnowledge::kUnknown) return DiskKnowledge::kUnknown;
  }
  return DiskKnowledge::kPresent;
}

ExistenceCache::Directory* ExistenceCache::Recorded(const char* path, size_t length) {
  uint64_t index = 0;
  if (!directories_.Find(path, static_cast<uint32_t>(length), &index)) return nullptr;
  return &records_[index];
}

ExistenceCache::Directory* ExistenceCache::Record(const char* path, size_t length) {
  if (directories_.count >= kMaxDirectories) return nullptr;
  DiskKnowledge::Directory* shared = knowledge_.Record(path, length);
  if (!shared) return nullptr;
  directories_.Insert(path, static_cast<uint32_t>(length), records_.size());
  records_.emplace_back();
  records_.back().shared = shared;
  return &records_.back();
}

// Brings the view of a directory up to the current input read: a missing
// directory is missing still when its parent is unchanged; an existing one
// answers from its listing when the listing is of the directory as it is.
void ExistenceCache::Refresh(Directory& directory, const char* path, size_t length) {
  if (directory.checkedAt == input_) return;
  directory.checkedAt = input_;
  directory.listing = nullptr;
  directory.listingTried = false;
  directory.state = StillMissing(directory, path, length);
  if (directory.state == DiskKnowledge::kPresent) {
    directory.listing = Trusted(directory, path, length, false);
  }
}

// What the run knows of the directory, when it still holds; else what the
// system says now.
ExistenceCache::State ExistenceCache::StillMissing(Directory& directory, const char* path,
                                                   size_t length) {
  DirectoryStamp parentStamp;
  State known = knowledge_.StateOf(directory.shared, &parentStamp);
  if (known == DiskKnowledge::kPresent) return known;
  if (known == DiskKnowledge::kMissing && parentStamp.reliable) {
    DirectoryStamp now;
    if (now.Take(ParentText(path, length).c_str()) && now.Matches(parentStamp)) return known;
  }
  return Ask(directory, path, length);
}

ExistenceCache::State ExistenceCache::Ask(Directory& directory, const char* path, size_t length) {
  if (length == 0) {
    // The working directory is never taken for missing.
    if (AccessState(".") != DiskKnowledge::kPresent) return DiskKnowledge::kUnknown;
    knowledge_.Learn(directory.shared, DiskKnowledge::kPresent, DirectoryStamp());
    return DiskKnowledge::kPresent;
  }
  // The parent's stamp comes first: a change after it shows in a later one.
  DirectoryStamp parentStamp;
  parentStamp.Take(ParentText(path, length).c_str());
  std::string text(path, length);
  State state = AccessState(text.c_str());
  if (state != DiskKnowledge::kUnknown) knowledge_.Learn(directory.shared, state, parentStamp);
  return state;
}

// The listing of the directory when one is known to hold the directory as
// it is now (read now, when `read` asks for one and none holds); null when
// the system is to answer.
const DirectoryListing* ExistenceCache::Trusted(Directory& directory, const char* path,
                                                size_t length, bool read) {
  const DirectoryListing* listing = knowledge_.Listing(directory.shared);
  if (!listing && !read) return nullptr;
  directory.listingTried = true;
  std::string text(path, length);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!listing) listing = knowledge_.ReadListing(directory.shared, path, length, nullptr);
    if (!listing) return nullptr;
    DirectoryStamp now;
    if (!now.Take(text.c_str())) return nullptr;
    if (listing->Stamp().reliable && listing->Stamp().Matches(now)) return listing;
    // Changed a moment ago: a listing read now could miss a change that
    // follows within the same tick of the clock.
    if (!now.reliable) return nullptr;
    listing = knowledge_.ReadListing(directory.shared, path, length, listing);
  }
  return nullptr;
}

// The directory itself, or one below it: the text goes on with "/".
bool ExistenceCache::BelowLastMissing(const char* path, size_t parentLength) {
  size_t length = lastMissing_.size();
  if (length == 0 || length > parentLength || path[length] != '/' ||
      memcmp(path, lastMissing_.data(), length) != 0) {
    return false;
  }
  Refresh(*lastMissingDirectory_, path, length);
  if (lastMissingDirectory_->state == DiskKnowledge::kMissing) return true;
  lastMissing_.clear();
  lastMissingDirectory_ = nullptr;
  return false;
}

// A path in an existing (or not yet known to be missing) directory.
bool ExistenceCache::Answer(const Place& place, const char* path, size_t length) {
  Directory* directory = place.directory;
  if (!directory) return ZpFileExists(path);
  const DirectoryListing* listing = directory->listing;
  if (!listing && !directory->listingTried &&
      directory->shared->tests.fetch_add(1, std::memory_order_relaxed) + 1 >=
          kTestsBeforeListing) {
    listing = directory->listing = Trusted(*directory, path, place.parentLength, true);
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
    if (place.state == DiskKnowledge::kMissing) return tiles;
    Directory* directory = place.directory;
    const DirectoryListing* listing = nullptr;
    if (directory) {
      listing = directory->listing;
      if (!listing && !directory->listingTried) {
        listing = directory->listing =
            Trusted(*directory, pattern.c_str(), place.parentLength, true);
      }
    }
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
