#include "hash_table.h"

#include <cstddef>
#include <cstdlib>

#include "checked_alloc.h"
#include "string_hash.h"

namespace {

const uint32_t kMaxBucketCount = 0x80000000u;

uint32_t RoundUpToPowerOfTwo(uint32_t hint) {
  if (hint > kMaxBucketCount) return kMaxBucketCount;
  uint32_t count = 1;
  while (count < hint) count <<= 1;
  return count;
}

uint32_t ThresholdFor(uint32_t bucketCount, float loadFactor) {
  float limit = static_cast<float>(bucketCount) * loadFactor;
  if (!(limit > 0.0f)) return 0;  // also NaN
  if (limit >= 4294967295.0f) return UINT32_MAX;
  return static_cast<uint32_t>(limit);
}

ZpHashTable::Entry** NewBucketArray(uint32_t count) {
  return static_cast<ZpHashTable::Entry**>(
      ZpCheckedCalloc(count, sizeof(ZpHashTable::Entry*)));
}

// Walks over every bucket touch entries at random addresses; asking for the
// head a few buckets ahead overlaps those cache misses.
constexpr uint32_t kPrefetchAhead = 32;

void PrefetchHead(ZpHashTable::Entry* const* buckets, uint32_t bucket, uint32_t bucketCount) {
  if (bucket < bucketCount) __builtin_prefetch(buckets[bucket]);
}

bool KeyEquals(const ZpHashTable::Entry* e, const void* key, uint32_t length) {
  return e->keyLength == length && (length == 0 || std::memcmp(e->key, key, length) == 0);
}

}  // namespace

ZpHashTable::ZpHashTable(uint32_t bucketHint, float loadFactor)
    : bucketCount(0), loadFactor(0), threshold(0), count(0), ownsValues(false), buckets(nullptr) {
  Init(bucketHint, loadFactor);
}

ZpHashTable::ZpHashTable(const ZpHashTable& other)
    : bucketCount(0), loadFactor(0), threshold(0), count(0), ownsValues(false), buckets(nullptr) {
  Init(other.bucketCount, other.loadFactor);
  uint32_t bucket = 0;
  Entry* next = nullptr;
  for (Entry* e = other.Next(&bucket, &next); e; e = other.Next(&bucket, &next)) {
    Insert(e->key, e->keyLength, e->value);
  }
}

ZpHashTable::~ZpHashTable() {
  if (bucketCount != 0) FreeEntries(ownsValues);
  count = 0;
  std::free(buckets);
}

void ZpHashTable::Init(uint32_t bucketHint, float factor) {
  bucketCount = RoundUpToPowerOfTwo(bucketHint);
  loadFactor = factor;
  threshold = ThresholdFor(bucketCount, loadFactor);
  count = 0;
  buckets = NewBucketArray(bucketCount);
}

uint32_t ZpHashTable::BucketOf(const void* key, uint32_t length) const {
  return ZpKeyHash(key, length) & (bucketCount - 1);
}

ZpHashTable::Entry* ZpHashTable::FindInBucket(const void* key, uint32_t length,
                                              uint32_t bucket) const {
  for (Entry* e = buckets[bucket]; e; e = e->next) {
    if (KeyEquals(e, key, length)) return e;
  }
  return nullptr;
}

ZpHashTable::Entry* ZpHashTable::FindEntry(const void* key, uint32_t length,
                                           uint32_t* bucket) const {
  *bucket = BucketOf(key, length);
  return FindInBucket(key, length, *bucket);
}

uint64_t ZpHashTable::Insert(const void* key, uint32_t length, uint64_t value) {
  return InsertHashed(key, length, ZpKeyHash(key, length), value);
}

uint64_t ZpHashTable::InsertHashed(const void* key, uint32_t length, uint32_t hash,
                                   uint64_t value) {
  if (count >= threshold) Grow();
  uint32_t bucket = hash & (bucketCount - 1);
  if (Entry* e = FindInBucket(key, length, bucket)) {
    uint64_t previous = e->value;
    e->value = value;
    if (!ownsValues) return previous;
    // Storing the value already held must not free what the table keeps.
    if (previous != value) FreeValue(previous);
    return 0;
  }
  buckets[bucket] = NewEntry(key, length, value, buckets[bucket]);
  ++count;
  return 0;
}

bool ZpHashTable::Find(const void* key, uint32_t length, uint64_t* value) const {
  uint32_t bucket;
  Entry* e = FindEntry(key, length, &bucket);
  if (!e) return false;
  *value = e->value;
  return true;
}

ZpHashTable::Iterator ZpHashTable::FindIterator(const void* key, uint32_t length) const {
  uint32_t bucket;
  Entry* e = FindEntry(key, length, &bucket);
  if (!e) return Iterator{this, 0, nullptr, nullptr};
  return Iterator{this, e->next ? bucket : bucket + 1, e->next, e};
}

bool ZpHashTable::Remove(const void* key, uint32_t length) {
  Entry** link = &buckets[BucketOf(key, length)];
  for (Entry* e = *link; e; link = &e->next, e = e->next) {
    if (!KeyEquals(e, key, length)) continue;
    *link = e->next;
    if (ownsValues) FreeValue(e->value);
    std::free(e);
    --count;
    return true;
  }
  return false;
}

bool ZpHashTable::ContainsValue(uint64_t value) const {
  for (uint32_t b = 0; b < bucketCount; ++b) {
    for (Entry* e = buckets[b]; e; e = e->next) {
      if (e->value == value) return true;
    }
  }
  return false;
}

ZpHashTable::Entry* ZpHashTable::Next(uint32_t* bucket, Entry** next) const {
  if (Entry* e = *next) {
    *next = e->next;
    if (!e->next) ++*bucket;
    return e;
  }
  for (; *bucket < bucketCount; ++*bucket) {
    if (Entry* head = buckets[*bucket]) {
      PrefetchHead(buckets, *bucket + kPrefetchAhead, bucketCount);
      *next = head->next;
      if (!head->next) ++*bucket;
      return head;
    }
  }
  return nullptr;
}

void ZpHashTable::FreeEntries(bool freeValues) {
  for (uint32_t b = 0; b < bucketCount; ++b) {
    PrefetchHead(buckets, b + kPrefetchAhead, bucketCount);
    Entry* e = buckets[b];
    while (e) {
      Entry* next = e->next;
      if (freeValues) FreeValue(e->value);
      std::free(e);
      e = next;
    }
    buckets[b] = nullptr;
  }
}

void ZpHashTable::Clear(bool freeValues) {
  FreeEntries(freeValues);
  count = 0;
}

void ZpHashTable::FreeValue(uint64_t value) {
  std::free(reinterpret_cast<void*>(static_cast<uintptr_t>(value)));
}

void ZpHashTable::Grow() {
  if (bucketCount >= kMaxBucketCount) return;
  uint32_t newCount = bucketCount * 2;
  Entry** grown = NewBucketArray(newCount);
  // Entries move in batches, each in the order of the walk: the buckets a
  // batch goes to are asked for before the first of them is written.
  constexpr int kBatch = 16;
  Entry* batch[kBatch];
  uint32_t targets[kBatch];
  int pending = 0;
  auto move = [&] {
    for (int i = 0; i < pending; ++i) {
      batch[i]->next = grown[targets[i]];
      grown[targets[i]] = batch[i];
    }
    pending = 0;
  };
  for (uint32_t b = 0; b < bucketCount; ++b) {
    PrefetchHead(buckets, b + kPrefetchAhead, bucketCount);
    for (Entry* e = buckets[b]; e;) {
      Entry* next = e->next;  // moving e rewrites its link
      targets[pending] = ZpKeyHash(e->key, e->keyLength) & (newCount - 1);
      __builtin_prefetch(&grown[targets[pending]], 1);
      batch[pending++] = e;
      if (pending == kBatch) move();
      e = next;
    }
  }
  move();
  std::free(buckets);
  buckets = grown;
  bucketCount = newCount;
  threshold = ThresholdFor(bucketCount, loadFactor);
}

ZpHashTable::Entry* ZpHashTable::NewEntry(const void* key, uint32_t length, uint64_t value,
                                          Entry* next) {
  size_t keyRoom = length > 4 ? length : 4;
  Entry* e = static_cast<Entry*>(ZpCheckedMalloc(offsetof(Entry, key) + keyRoom));
  e->next = next;
  e->value = value;
  e->keyLength = length;
  if (length != 0) std::memcpy(e->key, key, length);
  return e;
}
