#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

// The set behind each kind of dependency that a tracker records. Every path
// is kept once, appended to the set's text blocks, with its hash and length
// beside the pointer in an open-addressing table, so that growing and missed
// lookups never read the texts. Insertion only: a tracker's tables never
// shrink.
//
// Sorting reuses the table's own memory: the set then holds its paths in
// order until the next insertion or lookup, which places them again. A
// listing of a million names thus needs no memory beyond the set.
class DependencySet {
 public:
  DependencySet() = default;
  ~DependencySet();
  DependencySet(const DependencySet&) = delete;
  DependencySet& operator=(const DependencySet&) = delete;

  static uint32_t Hash(std::string_view path);

  // Adds a copy of path unless it is present; true when it was added.
  bool Insert(std::string_view path) { return Insert(path, Hash(path)); }
  // The same for a caller that holds Hash(path).
  bool Insert(std::string_view path, uint32_t hash) {
    return InsertIf(path, hash, [](std::string_view) { return true; });
  }
  // Adds path when it is absent and admit(path) holds; admit is asked only
  // then. True when it was added.
  template <typename Admit>
  bool InsertIf(std::string_view path, uint32_t hash, Admit admit) {
    Slot* slot = SlotFor(path, hash);
    if (slot->text || !admit(path)) return false;
    Fill(slot, path, hash);
    return true;
  }
  bool Contains(std::string_view path);
  // Asks for the slot of a hash ahead of an insertion.
  void Prefetch(uint32_t hash) const {
    if (slots_ && !sorted_) __builtin_prefetch(&slots_[hash & mask_]);
  }

  uint32_t Size() const { return count_; }
  // Removes every path and gives their memory back.
  void Clear();

  // visit(std::string_view) for every path, in the order of insertion. Each
  // path is followed by a NUL, and stays valid as long as the set.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const TextBlock& block : blocks_) {
      for (const char* p = block.data; p < block.data + block.used;) {
        uint32_t length = StoredLength(p);
        visit(std::string_view(p + sizeof length, length));
        p += sizeof length + length + 1;
      }
    }
  }

  // visit(std::string_view) for every path in ascending bytewise order (a
  // path before every longer one that begins with it). visit may look paths
  // up in the set, but not insert.
  template <typename Visit>
  void ForEachSorted(Visit visit) {
    Sort();
    const SortedEntry* entries = Sorted();
    ++walking_;
    for (uint32_t i = 0; i < count_; ++i) {
      // The paths lie at random addresses: ask for them a few ahead.
      if (i + kReadAhead < count_) __builtin_prefetch(entries[i + kReadAhead].text);
      visit(Text(entries[i].text));
    }
    --walking_;
  }

 private:
  static constexpr uint32_t kReadAhead = 8;
  struct Slot {
    uint32_t hash;
    uint32_t length;
    const char* text;  // null: an empty slot
  };
  // What a slot becomes while sorting: eight bytes of the path as a
  // big-endian number, and the path.
  struct SortedEntry {
    uint64_t word;
    const char* text;
  };
  struct TextBlock {
    char* data = nullptr;
    size_t used = 0;
    size_t size = 0;
  };

  static uint32_t StoredLength(const char* entry) {
    uint32_t length;
    std::memcpy(&length, entry, sizeof length);
    return length;
  }
  // A stored path, from the pointer that the table holds.
  static std::string_view Text(const char* text) {
    return std::string_view(text, StoredLength(text - sizeof(uint32_t)));
  }
  SortedEntry* Sorted() { return reinterpret_cast<SortedEntry*>(slots_); }

  // The slot that holds path, or the empty slot where it would go.
  Slot* Find(std::string_view path, uint32_t hash) const;
  // The same, with the table ready for one more path.
  Slot* SlotFor(std::string_view path, uint32_t hash);
  void Fill(Slot* slot, std::string_view path, uint32_t hash);
  void Grow();
  void Place();  // back from sorted order to the table
  bool InSortedOrder(std::string_view path) const;
  void Sort();
  static void SortRun(SortedEntry* begin, SortedEntry* end, size_t offset);
  static void SortTied(SortedEntry* begin, SortedEntry* end, size_t offset);
  const char* Store(std::string_view path);
  void KeepForTexts(void* table, size_t size);

  Slot* slots_ = nullptr;
  uint32_t mask_ = 0;  // slots - 1, once there are slots
  uint32_t count_ = 0;
  bool sorted_ = false;
  int walking_ = 0;  // sorted walks under way: the order must stay
  std::vector<TextBlock> blocks_;
  TextBlock spare_;  // memory for the next block of texts
  static constexpr size_t kFirstBlock = 256;
  size_t nextBlockSize_ = kFirstBlock;
};
