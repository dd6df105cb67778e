// String interning. Equal strings share one stable copy and one 32-bit id.
// Looking up a string already interned takes no lock and allocates nothing;
// only the insertion of a new string is locked. Nothing is ever removed or
// moved before destruction, so every pointer handed out stays valid.
//
// Out of memory: allocation failures print one line on stderr and abort
// (checked_alloc.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "arena.h"
#include "mutex.h"

// Open-addressing set of byte-string keys. Each entry carries `prefixSize`
// bytes of user data for the caller; the key follows the user data and its
// length precedes it. Tables replaced by growth stay allocated until the set
// is destroyed, so lock-free readers holding an old table stay safe.
class ZpStringSet {
 public:
  // Written and read with atomic builtins: the hash is stored before the
  // entry pointer, which is published last with release order.
  struct Slot {
    uint32_t hash;         // full key hash
    unsigned char* entry;  // null for an empty slot
  };
  struct alignas(Slot) Table {
    uint32_t mask;  // slots - 1; the slots follow the header
    Slot* Slots() { return reinterpret_cast<Slot*>(this + 1); }
    uint32_t SlotCount() const { return mask + 1; }
  };

  // Walks the slots of the table that was current at Begin, in index order.
  // A growth meanwhile does not invalidate it; later entries are not visited.
  struct Iterator {
    const ZpStringSet* set = nullptr;
    Table* table = nullptr;
    uint32_t index = 0;

    void Begin(const ZpStringSet& owner);
    void Next();
    bool AtEnd() const { return table == nullptr; }
    void* UserData() const;  // of the entry under the iterator
  };

  explicit ZpStringSet(uint32_t prefixSize);
  ~ZpStringSet();
  ZpStringSet(const ZpStringSet&) = delete;
  ZpStringSet& operator=(const ZpStringSet&) = delete;

  // The user-data address of the key's entry, adding the entry when insert
  // is true; null when the key is absent and insert is false.
  void* FindOrInsert(const void* key, uint32_t length, bool insert);

  // Lock-free linear probe of the current table; *slot := where it stopped.
  unsigned char* Probe(const void* key, uint32_t length, uint32_t hash, uint32_t* slot) const;
  // The same probe of a given table, current or retired.
  unsigned char* ProbeTable(Table* t, const void* key, uint32_t length, uint32_t hash,
                            uint32_t* slot) const;

  // A zero-filled table; large ones are asked for huge pages. Released with
  // ZpFreeLarge.
  static Table* NewTable(uint32_t slots);
  // Takes the mutex itself (it is recursive).
  unsigned char* NewEntry(const void* key, uint32_t length);

  // Doubles the table; the caller holds the mutex.
  void Grow();

  // The key address of an entry given its user data; *length := key length.
  const void* EntryKey(const void* userData, uint32_t* length) const;

  uint32_t prefixSize;
  std::atomic<Table*> table;
  uint32_t capacity;
  float loadFactor;
  uint32_t threshold;
  uint32_t count;
  Table** retired;  // retiredInline until it fills, then a heap array
  uint32_t retiredCount;
  uint32_t retiredRoom;
  ZpMutex mutex;
  // Where the entries are cut from; used under the mutex.
  ZpArena entries;

 private:
  void Retire(Table* old);
  void* UserDataOf(unsigned char* entry) const { return entry + sizeof(uint32_t); }

  static const uint32_t kInlineRetired = 10;
  Table* retiredInline[kInlineRetired];
};

// Array indexed by a 32-bit id whose storage grows in segments that never
// move: segment 0 holds elements 0-15, segment k (1-28) the 2^(k+3)
// elements from 2^(k+3). Segments are zero-filled and published by
// compare-and-swap, so any thread may allocate.
class ZpSegmentedArray {
 public:
  static const uint32_t kSegments = 29;

  explicit ZpSegmentedArray(uint32_t elementSize);
  ~ZpSegmentedArray();
  ZpSegmentedArray(const ZpSegmentedArray&) = delete;
  ZpSegmentedArray& operator=(const ZpSegmentedArray&) = delete;

  // The element's address; null when its segment is absent and allocate is
  // false. Allocating a segment also allocates every lower one.
  void* Slot(uint32_t index, bool allocate);

  // Allocates segments 1 to lastSegment where absent.
  void Reserve(uint32_t lastSegment);

  uint32_t elementSize;
  std::atomic<unsigned char*> segments[kSegments];
};

class ZpStringPool {
 public:
  ZpStringPool();
  ~ZpStringPool() = default;
  ZpStringPool(const ZpStringPool&) = delete;
  ZpStringPool& operator=(const ZpStringPool&) = delete;

  // The id of s, interning a copy when new; 0 for null. Ids count up from 1
  // and are never reused.
  uint32_t Intern(const char* s);

  // The interned string of an id; null for 0, an id not handed out, or an
  // id lost when two threads interned the same string at once.
  const char* String(uint32_t id);

  // Interns s, then makes String(id) return the caller's s instead of the
  // copy; returns the address of the id's element.
  const char** InternAs(const char* s);

  ZpStringSet set;
  ZpSegmentedArray ids;
  std::atomic<uint32_t> nextId;
};
