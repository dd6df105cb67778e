#include "string_pool.h"

#include <cstdlib>
#include <cstring>

#include "arena.h"
#include "checked_alloc.h"
#include "string_hash.h"

// Table slots, entry user data and array elements live in raw malloc'ed
// blocks, so they are accessed with the compiler's atomic builtins; fields
// of the objects themselves are std::atomic.

namespace {

const uint32_t kInitialSlots = 32;
const float kSetLoadFactor = 0.75f;

uint32_t ThresholdOf(uint32_t slots) {
  return static_cast<uint32_t>(static_cast<float>(slots) * kSetLoadFactor);
}

unsigned char* LoadEntry(const ZpStringSet::Slot& slot) {
  return __atomic_load_n(&slot.entry, __ATOMIC_ACQUIRE);
}

uint32_t EntryLength(const unsigned char* entry) {
  uint32_t length;
  std::memcpy(&length, entry, sizeof length);
  return length;
}

}  // namespace

// ---- ZpStringSet ----

ZpStringSet::ZpStringSet(uint32_t prefix)
    : prefixSize(prefix),
      table(NewTable(kInitialSlots)),
      capacity(kInitialSlots),
      loadFactor(kSetLoadFactor),
      threshold(ThresholdOf(kInitialSlots)),
      count(0),
      retired(retiredInline),
      retiredCount(0),
      retiredRoom(kInlineRetired),
      retiredInline() {}

ZpStringSet::~ZpStringSet() {
  for (uint32_t i = 0; i < retiredCount; ++i) ZpFreeLarge(retired[i]);
  if (retired != retiredInline) std::free(retired);
  // The entries go with the arena, all at once.
  ZpFreeLarge(table.load());
}

ZpStringSet::Table* ZpStringSet::NewTable(uint32_t slots) {
  void* block = ZpAllocateLarge(sizeof(Table) + size_t{slots} * sizeof(Slot), true);
  Table* t = static_cast<Table*>(block);
  t->mask = slots - 1;
  return t;
}

// Entries never move or go before the set does, so they are cut from one
// arena instead of being allocated one by one.
unsigned char* ZpStringSet::NewEntry(const void* key, uint32_t length) {
  ZpMutexLock lock(mutex);
  size_t size = sizeof(uint32_t) + size_t{prefixSize} + length;
  unsigned char* entry = static_cast<unsigned char*>(entries.Allocate(size, alignof(uint32_t)));
  std::memcpy(entry, &length, sizeof length);
  std::memset(entry + sizeof(uint32_t), 0, prefixSize);
  if (length != 0) std::memcpy(entry + sizeof(uint32_t) + prefixSize, key, length);
  return entry;
}

const void* ZpStringSet::EntryKey(const void* userData, uint32_t* length) const {
  const unsigned char* data = static_cast<const unsigned char*>(userData);
  if (length) *length = EntryLength(data - sizeof(uint32_t));
  return data + prefixSize;
}

unsigned char* ZpStringSet::ProbeTable(Table* t, const void* key, uint32_t length,
                                       uint32_t hash, uint32_t* slot) const {
  Slot* slots = t->Slots();
  uint32_t i = hash & t->mask;
  for (unsigned char* entry; (entry = LoadEntry(slots[i])) != nullptr; i = (i + 1) & t->mask) {
    if (__atomic_load_n(&slots[i].hash, __ATOMIC_RELAXED) == hash &&
        EntryLength(entry) == length &&
        (length == 0 || std::memcmp(entry + sizeof(uint32_t) + prefixSize, key, length) == 0)) {
      *slot = i;
      return entry;
    }
  }
  *slot = i;
  return nullptr;
}

unsigned char* ZpStringSet::Probe(const void* key, uint32_t length, uint32_t hash,
                                  uint32_t* slot) const {
  return ProbeTable(table.load(std::memory_order_acquire), key, length, hash, slot);
}

void* ZpStringSet::FindOrInsert(const void* key, uint32_t length, bool insert) {
  uint32_t hash = ZpKeyHash(key, length);
  uint32_t slot;
  if (unsigned char* found = Probe(key, length, hash, &slot)) return UserDataOf(found);
  if (!insert) return nullptr;

  ZpMutexLock lock(mutex);
  // Another thread may have inserted the key, or grown the table, meanwhile.
  unsigned char* found = Probe(key, length, hash, &slot);
  if (!found && count + 1 >= threshold) {
    Grow();
    found = Probe(key, length, hash, &slot);
  }
  if (found) return UserDataOf(found);

  ++count;
  unsigned char* entry = NewEntry(key, length);
  Slot& target = table.load(std::memory_order_relaxed)->Slots()[slot];
  __atomic_store_n(&target.hash, hash, __ATOMIC_RELAXED);
  __atomic_store_n(&target.entry, entry, __ATOMIC_RELEASE);
  return UserDataOf(entry);
}

void ZpStringSet::Grow() {
  Table* old = table.load(std::memory_order_relaxed);
  uint32_t grownCapacity = capacity * 2;
  Table* grown = NewTable(grownCapacity);
  Slot* to = grown->Slots();
  for (uint32_t i = 0; i < old->SlotCount(); ++i) {
    const Slot& from = old->Slots()[i];
    if (!from.entry) continue;
    uint32_t j = from.hash & grown->mask;
    while (to[j].entry) j = (j + 1) & grown->mask;
    to[j] = from;
  }
  capacity = grownCapacity;
  threshold = ThresholdOf(grownCapacity);
  Retire(old);
  table.store(grown, std::memory_order_release);  // complete before readers see it
}

void ZpStringSet::Retire(Table* old) {
  if (retiredCount == retiredRoom) {
    uint32_t room = 2 * retiredRoom + 1;
    Table** bigger = static_cast<Table**>(ZpCheckedMalloc(room * sizeof(Table*)));
    std::memcpy(bigger, retired, retiredCount * sizeof(Table*));
    if (retired != retiredInline) std::free(retired);
    retired = bigger;
    retiredRoom = room;
  }
  retired[retiredCount++] = old;
}

void ZpStringSet::Iterator::Begin(const ZpStringSet& owner) {
  set = &owner;
  table = owner.table.load(std::memory_order_acquire);
  index = 0;
  if (!LoadEntry(table->Slots()[0])) Next();
}

void ZpStringSet::Iterator::Next() {
  if (!table) return;
  while (++index < table->SlotCount()) {
    if (LoadEntry(table->Slots()[index])) return;
  }
  *this = Iterator();
}

void* ZpStringSet::Iterator::UserData() const {
  if (!table) return nullptr;
  return LoadEntry(table->Slots()[index]) + sizeof(uint32_t);
}

// ---- ZpSegmentedArray ----

namespace {

uint32_t SegmentLength(uint32_t segment) { return segment == 0 ? 16 : 1u << (segment + 3); }

}  // namespace

ZpSegmentedArray::ZpSegmentedArray(uint32_t size) : elementSize(size) {
  segments[0].store(static_cast<unsigned char*>(ZpCheckedCalloc(SegmentLength(0), elementSize)));
  for (uint32_t k = 1; k < kSegments; ++k) segments[k].store(nullptr);
}

ZpSegmentedArray::~ZpSegmentedArray() {
  for (auto& segment : segments) std::free(segment.load());
}

void ZpSegmentedArray::Reserve(uint32_t lastSegment) {
  if (lastSegment >= kSegments) lastSegment = kSegments - 1;
  for (uint32_t k = 1; k <= lastSegment; ++k) {
    if (segments[k].load(std::memory_order_acquire)) continue;
    unsigned char* block =
        static_cast<unsigned char*>(ZpCheckedCalloc(SegmentLength(k), elementSize));
    unsigned char* expected = nullptr;
    if (!segments[k].compare_exchange_strong(expected, block)) std::free(block);  // lost the race
  }
}

void* ZpSegmentedArray::Slot(uint32_t index, bool allocate) {
  uint32_t segment = 0;
  uint32_t offset = index;
  if (index >= 16) {
    uint32_t log2 = 31 - static_cast<uint32_t>(__builtin_clz(index));
    segment = log2 - 3;
    offset = index - (1u << log2);
  }
  unsigned char* base = segments[segment].load(std::memory_order_acquire);
  if (!base) {
    if (!allocate) return nullptr;
    Reserve(segment);
    base = segments[segment].load(std::memory_order_acquire);
  }
  // Offsets in 64 bits, so large ids of large elements stay exact.
  return base + size_t{offset} * elementSize;
}

// ---- ZpStringPool ----

namespace {

const char** Element(void* slot) { return static_cast<const char**>(slot); }

uint32_t* IdOf(void* userData) { return static_cast<uint32_t*>(userData); }

}  // namespace

ZpStringPool::ZpStringPool() : set(4), ids(sizeof(const char*)), nextId(1) {
  __atomic_store_n(Element(ids.Slot(0, true)), nullptr, __ATOMIC_RELEASE);
}

uint32_t ZpStringPool::Intern(const char* s) {
  if (!s) return 0;
  uint32_t length = static_cast<uint32_t>(std::strlen(s) + 1);  // the copy keeps its NUL
  void* userData = set.FindOrInsert(s, length, true);
  uint32_t* idField = IdOf(userData);
  uint32_t id = __atomic_load_n(idField, __ATOMIC_ACQUIRE);
  if (id != 0) return id;

  uint32_t drawn = nextId.fetch_add(1);
  const char** element = Element(ids.Slot(drawn, true));
  const char* copy = static_cast<const char*>(set.EntryKey(userData, nullptr));
  __atomic_store_n(element, copy, __ATOMIC_RELEASE);
  uint32_t expected = 0;
  if (__atomic_compare_exchange_n(idField, &expected, drawn, false, __ATOMIC_SEQ_CST,
                                  __ATOMIC_SEQ_CST)) {
    return drawn;
  }
  // Another thread gave the string its id first; ours is never handed out.
  __atomic_store_n(element, nullptr, __ATOMIC_RELEASE);
  return expected;
}

const char* ZpStringPool::String(uint32_t id) {
  void* slot = ids.Slot(id, false);
  return slot ? __atomic_load_n(Element(slot), __ATOMIC_ACQUIRE) : nullptr;
}

const char** ZpStringPool::InternAs(const char* s) {
  uint32_t id = Intern(s);
  const char** element = Element(ids.Slot(id, false));
  __atomic_store_n(element, s, __ATOMIC_RELEASE);
  return element;
}
