#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "directory_listing.h"
#include "hash_table.h"

// What a run has learnt about directories, shared by all its trackers and
// their threads, so that a folder named by thousands of streams is listed
// once: which directories are missing (with the stamp of the parent that
// said so), and the listings of those asked about often. Nothing here is
// trusted as it stands: the trackers check a stamp before they answer from
// it (see ExistenceCache).
//
// Records live as long as the knowledge; a listing that a newer one
// replaces stays allocated too, since another thread may be reading it.
class DiskKnowledge {
 public:
  enum State : uint8_t { kUnknown = 0, kPresent = 1, kMissing = 2 };

  struct Directory {
    // Guarded by the knowledge's lock.
    State state = kUnknown;
    DirectoryStamp parentStamp;  // for kMissing: the parent, before it was asked
    const DirectoryListing* listing = nullptr;
    bool reading = false;     // a thread is reading the listing
    bool unlistable = false;  // the listing cannot be read, or was read too often
    uint8_t reads = 0;
    // Names asked of the system, toward reading the listing.
    std::atomic<uint32_t> tests{0};
  };

  // The run's own.
  static DiskKnowledge& Run();

  DiskKnowledge();
  ~DiskKnowledge();
  DiskKnowledge(const DiskKnowledge&) = delete;
  DiskKnowledge& operator=(const DiskKnowledge&) = delete;

  // The record of the directory text (length bytes, "" for the working
  // directory), made when new; null once the bound on records is reached.
  Directory* Record(const char* text, size_t length);

  // What the record says, with the parent's stamp for a missing directory.
  State StateOf(Directory* directory, DirectoryStamp* parentStamp);
  void Learn(Directory* directory, State state, const DirectoryStamp& parentStamp);

  // The listing read last, or null.
  const DirectoryListing* Listing(Directory* directory);
  // A listing read now, unless one newer than `stale` is there already (then
  // that one); null when none can be had: the directory cannot be listed, is
  // being read by another thread, has been read too often, or the names of
  // all listings reach their bound. text is the directory's path.
  const DirectoryListing* ReadListing(Directory* directory, const char* text, size_t length,
                                      const DirectoryListing* stale);

  // Lets go of everything (tests).
  void Forget();

 private:
  std::mutex mutex_;
  ZpHashTable index_;  // text -> position in records_
  std::deque<Directory> records_;
  std::vector<std::unique_ptr<const DirectoryListing>> listings_;
  size_t listedNames_ = 0;
};
