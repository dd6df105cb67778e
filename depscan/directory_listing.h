#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The names in one directory, read once, so that existence tests of names in
// it and the tiles of UDIM patterns are answered without a system call per
// name. A listing is only kept where a name's absence from it proves that the
// name is missing (see Read).
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

  // What the listing says of one name (without "/"). "", "." and ".." are
  // left to the system.
  Answer Find(std::string_view name) const;

  // The tile numbers n, ascending, for which the listing holds `component`
  // with its first "UDIM" replaced by the four digits of n (1001 to 1999).
  const std::vector<uint16_t>& Tiles(std::string_view component);

  size_t Size() const { return count_; }

 private:
  struct Slot {
    uint32_t hash;
    uint32_t offset;  // of the entry in names_, plus one; 0: empty
  };
  void Add(std::string_view name, unsigned char type);
  void Index();
  bool FoldsCase(int directoryFd) const;
  const char* EntryAt(uint32_t offset) const { return names_.data() + offset - 1; }

  // Each entry: its type byte (a dirent d_type), the name, a NUL.
  std::string names_;
  std::vector<Slot> slots_;
  size_t count_ = 0;
  std::unordered_map<std::string, std::vector<uint16_t>> tiles_;
  bool tilesIndexed_ = false;
};
