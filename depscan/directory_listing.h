#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What a directory looked like at one moment: enough to tell, later, whether
// it has changed since. A change to the names in a directory sets its change
// time to the system's clock; the stamp is reliable when that time lies
// before the clock read just before the stamp was taken, so that any later
// change is bound to show as a different time.
struct DirectoryStamp {
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified = {};
  timespec changed = {};
  bool reliable = false;

  // The stamp of the directory (or file) at path, "" being the working
  // directory; false when it cannot be asked.
  bool Take(const char* path);
  bool TakeOpen(int fd);
  // The same directory, unchanged (reliability aside).
  bool Matches(const DirectoryStamp& other) const;
};

// The names in one directory, read once, so that existence tests of names in
// it and the tiles of UDIM patterns are answered without a system call per
// name. A listing is only kept where a name's absence from it proves that the
// name is missing (see Read). Once read, a listing is only read from, and may
// be shared by threads.
class DirectoryListing {
 public:
  enum class Answer {
    kMissing,
    kPresent,
    kAsk,  // a link, or an entry of unknown type: what it leads to decides
  };

  // Reads the directory ("" is the working directory). False when it cannot
  // be read and searched, when it holds more than maxNames names, or when
  // absence from its listing would prove nothing: on a file system that is
  // not known to compare names byte for byte and to list every name it holds
  // (network file systems, automounts), or in a directory that folds case.
  bool Read(const std::string& directory, size_t maxNames);

  // The directory as it was just before its names were read.
  const DirectoryStamp& Stamp() const { return stamp_; }

  // What the listing says of one name (without "/"). "", "." and ".." are
  // left to the system.
  Answer Find(std::string_view name) const;

  // The tile numbers n, ascending, for which the listing holds `component`
  // with its first "UDIM" replaced by the four digits of n (1001 to 1999).
  const std::vector<uint16_t>& Tiles(std::string_view component) const;

  size_t Size() const { return count_; }

 private:
  struct Slot {
    uint32_t hash;
    uint32_t offset;  // of the entry in names_, plus one; 0: empty
  };
  void Add(std::string_view name, unsigned char type);
  void Index() const;
  bool FoldsCase(int directoryFd) const;
  const char* EntryAt(uint32_t offset) const { return names_.data() + offset - 1; }

  // Each entry: its type byte (a dirent d_type), the name, a NUL.
  std::string names_;
  std::vector<Slot> slots_;
  size_t count_ = 0;
  DirectoryStamp stamp_;
  // The index of tiles, made when first asked for.
  mutable std::unordered_map<std::string, std::vector<uint16_t>> tiles_;
  mutable std::once_flag tilesIndexed_;
};
