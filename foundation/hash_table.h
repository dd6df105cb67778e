// String-keyed hash tables with separate chaining. Keys are byte strings
// copied into the entries; values are 64-bit numbers that callers use either
// as numbers or as pointers to malloc'ed strings (see `ownsValues`).
//
// Out of memory: allocation failures print one line on stderr and abort
// (checked_alloc.h); no operation ever leaves a half-built table behind.
// A bucket hint above 2^31 is clamped to 2^31 buckets, and a table of 2^31
// buckets no longer grows.
#pragma once

#include <cstdint>
#include <cstring>

class ZpHashTable {
 public:
  // One malloc block per key, the key stored inline after the fixed fields.
  struct Entry {
    Entry* next;
    uint64_t value;
    uint32_t keyLength;
    unsigned char key[4];  // allocated with room for max(keyLength, 4) bytes
  };

  // Caller-held cursor; a plain record without a constructor.
  // Protocol: Iterator it = {&table, 0, nullptr, nullptr};
  //           it.current = table.Next(&it.bucket, &it.next);
  //           while (it.current) { ...; it.current = table.Next(&it.bucket, &it.next); }
  struct Iterator {
    const ZpHashTable* table;
    uint32_t bucket;
    Entry* next;
    Entry* current;  // null at the end

    const void* Key() const { return current ? current->key : nullptr; }
    uint32_t KeyLength() const { return current->keyLength; }  // current must exist
    uint64_t Value() const { return current ? current->value : 0; }
  };

  ZpHashTable(uint32_t bucketHint, float loadFactor);
  // The copy shares the value numbers (strings behind them are not
  // duplicated) and does not own them.
  ZpHashTable(const ZpHashTable& other);
  ZpHashTable& operator=(const ZpHashTable&) = delete;
  virtual ~ZpHashTable();

  // Sizes a freshly constructed table: bucketCount = smallest power of two
  // >= bucketHint, threshold = bucketCount * loadFactor truncated.
  // Releases nothing that was there before.
  void Init(uint32_t bucketHint, float loadFactor);

  // Adds or replaces. Returns 0 for a new key; for a replaced key the
  // previous value, or 0 when ownsValues is true (the previous value is
  // freed, unless it is the value being stored). A full table grows first,
  // even when the key is already present.
  uint64_t Insert(const void* key, uint32_t length, uint64_t value);

  // Insert for a caller that already holds the key hash of (key, length).
  uint64_t InsertHashed(const void* key, uint32_t length, uint32_t hash, uint64_t value);
  // Asks for the bucket of a key hash ahead of an insertion or lookup.
  void PrefetchBucket(uint32_t hash) const { __builtin_prefetch(&buckets[hash & (bucketCount - 1)]); }

  // True and *value set when the key is present; *value untouched otherwise.
  bool Find(const void* key, uint32_t length, uint64_t* value) const;

  // Iterator positioned on the key's entry, so that Next continues with the
  // entries after it; {table, 0, null, null} when the key is missing.
  Iterator FindIterator(const void* key, uint32_t length) const;

  // True when an entry was removed; its value is freed when ownsValues.
  bool Remove(const void* key, uint32_t length);

  bool ContainsValue(uint64_t value) const;

  // The entry under the cursor (bucket, next), advancing the cursor past it
  // first, so removing the returned entry keeps the cursor valid.
  // Null when exhausted.
  Entry* Next(uint32_t* bucket, Entry** next) const;

  // Removes every entry, freeing values only when freeValues (ownsValues is
  // not consulted). The bucket array stays.
  void Clear(bool freeValues);

  static void FreeValue(uint64_t value);

  // Doubles the bucket array; run by Insert.
  void Grow();

  Entry* NewEntry(const void* key, uint32_t length, uint64_t value, Entry* next);

  uint32_t bucketCount;
  float loadFactor;
  uint32_t threshold;
  uint32_t count;
  bool ownsValues;  // set directly by users: values are malloc'ed and owned
  Entry** buckets;

 private:
  uint32_t BucketOf(const void* key, uint32_t length) const;
  Entry* FindEntry(const void* key, uint32_t length, uint32_t* bucket) const;
  Entry* FindInBucket(const void* key, uint32_t length, uint32_t bucket) const;
  void FreeEntries(bool freeValues);
};

template <typename Key>
class ZpTypedHash;

// Keyed by NUL-terminated strings; the NUL is part of the key, so a stored
// key reads back as a C string.
template <>
class ZpTypedHash<const char> : public ZpHashTable {
 public:
  ZpTypedHash(uint32_t bucketHint, float loadFactor) : ZpHashTable(bucketHint, loadFactor) {}

  using ZpHashTable::Find;
  using ZpHashTable::FindIterator;
  using ZpHashTable::Insert;
  using ZpHashTable::Remove;

  uint64_t Insert(const char* key, uint64_t value) {
    return ZpHashTable::Insert(key, KeyLength(key), value);
  }
  bool Find(const char* key, uint64_t* value) const {
    return ZpHashTable::Find(key, KeyLength(key), value);
  }
  Iterator FindIterator(const char* key) const {
    return ZpHashTable::FindIterator(key, KeyLength(key));
  }
  bool Remove(const char* key) { return ZpHashTable::Remove(key, KeyLength(key)); }

 private:
  static uint32_t KeyLength(const char* key) {
    return static_cast<uint32_t>(std::strlen(key) + 1);
  }
};
