#include "disk_knowledge.h"

#include <algorithm>
#include <string>

namespace {

// What is kept stays small whatever the streams name: past these bounds
// names are asked of the system one by one.
constexpr uint32_t kMaxDirectories = 1 << 16;
constexpr size_t kMaxNamesPerListing = size_t{1} << 18;
constexpr size_t kMaxListedNames = size_t{1} << 20;
// A directory that keeps changing under the run is asked name by name.
constexpr uint8_t kMaxReads = 8;

}  // namespace

DiskKnowledge& DiskKnowledge::Run() {
  static DiskKnowledge* run = new DiskKnowledge;  // outlives every thread
  return *run;
}

DiskKnowledge::DiskKnowledge() : index_(32, 0.75f) {}

DiskKnowledge::~DiskKnowledge() = default;

DiskKnowledge::Directory* DiskKnowledge::Record(const char* text, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t position = 0;
  if (index_.Find(text, static_cast<uint32_t>(length), &position)) return &records_[position];
  if (index_.count >= kMaxDirectories) return nullptr;
  index_.Insert(text, static_cast<uint32_t>(length), records_.size());
  records_.emplace_back();
  return &records_.back();
}

DiskKnowledge::State DiskKnowledge::StateOf(Directory* directory, DirectoryStamp* parentStamp) {
  std::lock_guard<std::mutex> lock(mutex_);
  *parentStamp = directory->parentStamp;
  return directory->state;
}

void DiskKnowledge::Learn(Directory* directory, State state, const DirectoryStamp& parentStamp) {
  std::lock_guard<std::mutex> lock(mutex_);
  directory->state = state;
  directory->parentStamp = parentStamp;
}

const DirectoryListing* DiskKnowledge::Listing(Directory* directory) {
  std::lock_guard<std::mutex> lock(mutex_);
  return directory->listing;
}

const DirectoryListing* DiskKnowledge::ReadListing(Directory* directory, const char* text,
                                                   size_t length,
                                                   const DirectoryListing* stale) {
  size_t room = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (directory->listing != stale) return directory->listing;
    if (directory->reading || directory->unlistable || listedNames_ >= kMaxListedNames) {
      return nullptr;
    }
    if (++directory->reads > kMaxReads) {
      directory->unlistable = true;
      return nullptr;
    }
    directory->reading = true;
    room = std::min(kMaxNamesPerListing, kMaxListedNames - listedNames_);
  }
  // Read without the lock: other threads ask the system meanwhile.
  auto listing = std::make_unique<DirectoryListing>();
  bool read = listing->Read(std::string(text, length), room);
  std::lock_guard<std::mutex> lock(mutex_);
  directory->reading = false;
  if (!read) {
    directory->unlistable = true;
    return nullptr;
  }
  listedNames_ += listing->Size();
  directory->listing = listing.get();
  listings_.push_back(std::move(listing));
  return directory->listing;
}

void DiskKnowledge::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  index_.Clear(false);
  records_.clear();
  listings_.clear();
  listedNames_ = 0;
}
