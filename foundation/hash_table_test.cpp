#include "hash_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "string_hash.h"

namespace {

uint64_t Str(const char* text) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(strdup(text)));
}

const char* AsText(uint64_t value) { return reinterpret_cast<const char*>(value); }

std::string KeyOf(const ZpHashTable::Iterator& it) {
  return std::string(static_cast<const char*>(it.Key()), it.KeyLength());
}

// Every (key, value) in iteration order, following the documented protocol.
std::vector<std::pair<std::string, uint64_t>> Walk(const ZpHashTable& table) {
  std::vector<std::pair<std::string, uint64_t>> seen;
  ZpHashTable::Iterator it = {&table, 0, nullptr, nullptr};
  for (it.current = table.Next(&it.bucket, &it.next); it.current;
       it.current = table.Next(&it.bucket, &it.next)) {
    seen.emplace_back(KeyOf(it), it.Value());
  }
  return seen;
}

std::map<std::string, uint64_t> Contents(const ZpHashTable& table) {
  auto seen = Walk(table);
  return std::map<std::string, uint64_t>(seen.begin(), seen.end());
}

uint32_t BucketOf(const std::string& key, const ZpHashTable& table) {
  return ZpKeyHash(key.data(), key.size()) & (table.bucketCount - 1);
}

void InsertKey(ZpHashTable& table, const std::string& key, uint64_t value) {
  table.Insert(key.data(), static_cast<uint32_t>(key.size()), value);
}

// Two distinct keys that share a bucket in a table of `buckets` buckets.
std::pair<std::string, std::string> CollidingKeys(uint32_t buckets) {
  std::map<uint32_t, std::string> first;
  for (int i = 0;; ++i) {
    std::string key = "k" + std::to_string(i);
    uint32_t bucket = ZpKeyHash(key.data(), key.size()) & (buckets - 1);
    auto found = first.find(bucket);
    if (found != first.end()) return {found->second, key};
    first[bucket] = key;
  }
}

}  // namespace

TEST(HashTableTest, InitRoundsTheHintUpToAPowerOfTwo) {
  struct Case {
    uint32_t hint;
    float loadFactor;
    uint32_t buckets, threshold;
  } cases[] = {{0, 0.75f, 1, 0}, {1, 0.75f, 1, 0},  {2, 0.75f, 2, 1},   {3, 0.75f, 4, 3},
               {32, 0.75f, 32, 24}, {33, 0.75f, 64, 48}, {16, 0.5f, 16, 8}, {10, 1.0f, 16, 16}};
  for (const Case& c : cases) {
    ZpHashTable table(c.hint, c.loadFactor);
    EXPECT_EQ(table.bucketCount, c.buckets) << c.hint;
    EXPECT_EQ(table.threshold, c.threshold) << c.hint;
    EXPECT_EQ(table.count, 0u);
    EXPECT_FALSE(table.ownsValues);
  }
}

TEST(HashTableTest, GrowsOnTheInsertionAfterThreshold) {
  ZpHashTable table(32, 0.75f);
  for (int i = 0; i < 24; ++i) InsertKey(table, "key" + std::to_string(i), i);
  EXPECT_EQ(table.bucketCount, 32u);
  EXPECT_EQ(table.count, 24u);
  InsertKey(table, "key24", 24);
  EXPECT_EQ(table.bucketCount, 64u);
  EXPECT_EQ(table.threshold, 48u);
  for (int i = 0; i < 25; ++i) {
    uint64_t value = 99;
    std::string key = "key" + std::to_string(i);
    ASSERT_TRUE(table.Find(key.data(), key.size(), &value)) << key;
    EXPECT_EQ(value, static_cast<uint64_t>(i));
  }
}

TEST(HashTableTest, AFullTableGrowsEvenWhenOnlyReplacing) {
  ZpHashTable table(32, 0.75f);
  for (int i = 0; i < 24; ++i) InsertKey(table, "key" + std::to_string(i), i);
  EXPECT_EQ(table.Insert("key3", 4, 300), 3u);
  EXPECT_EQ(table.bucketCount, 64u);
  EXPECT_EQ(table.count, 24u);
}

TEST(HashTableTest, HintZeroStartsWithOneBucketAndGrowsAtOnce) {
  ZpHashTable table(0, 0.75f);
  table.Insert("a", 1, 1);
  EXPECT_EQ(table.bucketCount, 2u);
  EXPECT_EQ(table.threshold, 1u);
  table.Insert("b", 1, 2);
  EXPECT_EQ(table.bucketCount, 4u);
  EXPECT_EQ(table.threshold, 3u);
  uint64_t value = 0;
  EXPECT_TRUE(table.Find("a", 1, &value));
  EXPECT_EQ(value, 1u);
}

TEST(HashTableTest, ReplacementReturnsPreviousValueWhenNotOwning) {
  ZpHashTable table(32, 0.75f);
  EXPECT_EQ(table.Insert("key", 3, 7), 0u);
  EXPECT_EQ(table.Insert("key", 3, 8), 7u);
  uint64_t value = 0;
  EXPECT_TRUE(table.Find("key", 3, &value));
  EXPECT_EQ(value, 8u);
  EXPECT_EQ(table.count, 1u);
}

// The sanitizer build turns a missing or double free here into a failure.
TEST(HashTableTest, OwningTableFreesReplacedRemovedAndRemainingValues) {
  ZpHashTable table(32, 0.75f);
  table.ownsValues = true;
  EXPECT_EQ(table.Insert("a", 1, Str("first")), 0u);
  EXPECT_EQ(table.Insert("a", 1, Str("second")), 0u);  // "first" freed
  uint64_t value = 0;
  ASSERT_TRUE(table.Find("a", 1, &value));
  EXPECT_STREQ(AsText(value), "second");
  table.Insert("b", 1, Str("removed"));
  EXPECT_TRUE(table.Remove("b", 1));
  EXPECT_FALSE(table.Remove("b", 1));
  table.Insert("c", 1, Str("left for the destructor"));
}

// Storing the held string again keeps it alive; the table frees it once.
TEST(HashTableTest, OwningTableKeepsAValueStoredAgainUnderItsKey) {
  ZpTypedHash<const char> table(32, 0.75f);
  table.ownsValues = true;
  uint64_t held = Str("held");
  table.Insert("k", held);
  EXPECT_EQ(table.Insert("k", held), 0u);
  uint64_t value = 0;
  ASSERT_TRUE(table.Find("k", &value));
  EXPECT_EQ(value, held);
  EXPECT_STREQ(AsText(value), "held");
}

TEST(HashTableTest, FindLeavesValueUntouchedWhenMissing) {
  ZpHashTable table(32, 0.75f);
  table.Insert("x", 1, 1);
  uint64_t value = 42;
  EXPECT_FALSE(table.Find("y", 1, &value));
  EXPECT_FALSE(table.Find("x", 0, &value));
  EXPECT_FALSE(table.Find("xx", 2, &value));
  EXPECT_EQ(value, 42u);
}

TEST(HashTableTest, KeysAreCopiedAndMayHoldAnyBytes) {
  ZpHashTable table(32, 0.75f);
  char key[] = {'a', '\0', 'b'};
  table.Insert(key, 3, 5);
  table.Insert("", 0, 6);
  key[2] = 'c';
  uint64_t value = 0;
  EXPECT_TRUE(table.Find("a\0b", 3, &value));
  EXPECT_EQ(value, 5u);
  EXPECT_FALSE(table.Find(key, 3, &value));
  EXPECT_TRUE(table.Find(nullptr, 0, &value));
  EXPECT_EQ(value, 6u);
}

TEST(HashTableTest, TypedKeyIncludesTheTerminatingNul) {
  ZpTypedHash<const char> table(32, 0.75f);
  table.Insert("ab", 9);
  uint64_t value = 0;
  EXPECT_FALSE(table.Find("ab", 2, &value));
  EXPECT_TRUE(table.Find("ab", 3, &value));
  EXPECT_TRUE(table.Find("ab", &value));
  EXPECT_EQ(value, 9u);
  ZpHashTable::Iterator it = table.FindIterator("ab");
  ASSERT_NE(it.current, nullptr);
  EXPECT_EQ(it.KeyLength(), 3u);
  EXPECT_STREQ(static_cast<const char*>(it.Key()), "ab");
  EXPECT_TRUE(table.Remove("ab"));
  EXPECT_FALSE(table.Find("ab", &value));
}

// Keys of 28 and 29 bytes go through different hash functions; after many
// growths every key must still lie in the bucket its key hash names.
TEST(HashTableTest, KeysAroundTheHashSwitchSurviveGrowth) {
  ZpHashTable table(0, 0.75f);
  std::vector<std::string> keys;
  for (int i = 0; i < 300; ++i) {
    size_t length = 20 + i % 20;  // 20..39 bytes, across the 28/29 switch
    std::string key = std::to_string(i) + std::string(length, 'x');
    key.resize(length);
    keys.push_back(key);
    InsertKey(table, key, i);
  }
  EXPECT_EQ(table.count, 300u);
  EXPECT_EQ(table.bucketCount, 512u);
  for (size_t i = 0; i < keys.size(); ++i) {
    uint64_t value = 0;
    ASSERT_TRUE(table.Find(keys[i].data(), keys[i].size(), &value)) << keys[i];
    EXPECT_EQ(value, i);
  }
  for (uint32_t b = 0; b < table.bucketCount; ++b) {
    for (ZpHashTable::Entry* e = table.buckets[b]; e; e = e->next) {
      EXPECT_EQ(BucketOf(std::string(reinterpret_cast<char*>(e->key), e->keyLength), table), b);
    }
  }
}

// A 29-byte key's bucket comes from the spooky half: the pattern key
// (i * 7 + 3) of 29 bytes has key hash 0x1180368a, so bucket 10 of 64.
TEST(HashTableTest, BucketIsTheKeyHashMaskedByTheBucketCount) {
  std::string key;
  for (int i = 0; i < 29; ++i) key.push_back(static_cast<char>(i * 7 + 3));
  ZpHashTable table(64, 0.75f);
  InsertKey(table, key, 1);
  ASSERT_NE(table.buckets[10], nullptr);
  EXPECT_EQ(table.buckets[10]->keyLength, 29u);
}

TEST(HashTableTest, IterationVisitsEveryEntryOnceInBucketOrder) {
  ZpHashTable table(32, 0.75f);
  EXPECT_TRUE(Walk(table).empty());
  std::map<std::string, uint64_t> expected;
  for (int i = 0; i < 100; ++i) {
    std::string key = "entry" + std::to_string(i);
    InsertKey(table, key, i);
    expected[key] = i;
  }
  auto seen = Walk(table);
  ASSERT_EQ(seen.size(), 100u);
  EXPECT_EQ(Contents(table), expected);
  for (size_t i = 1; i < seen.size(); ++i) {
    EXPECT_LE(BucketOf(seen[i - 1].first, table), BucketOf(seen[i].first, table));
  }
}

TEST(HashTableTest, ChainOrderIsMostRecentFirst) {
  auto [older, newer] = CollidingKeys(32);
  ZpHashTable table(32, 0.75f);
  InsertKey(table, older, 1);
  InsertKey(table, newer, 2);
  auto seen = Walk(table);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, newer);
  EXPECT_EQ(seen[1].first, older);
}

// Many entries of one chain, so that growth moves more than a few of them
// to each new bucket.
TEST(HashTableTest, GrowthReversesTheOrderOfEntriesThatShareANewBucket) {
  ZpHashTable table(1, 1000.0f);
  for (int i = 0; i < 200; ++i) InsertKey(table, "key" + std::to_string(i), i);
  auto before = Walk(table);  // one chain, most recent first
  table.Grow();
  ASSERT_EQ(table.bucketCount, 2u);
  std::vector<std::pair<std::string, uint64_t>> expected;
  for (uint32_t bucket = 0; bucket < 2; ++bucket) {
    for (auto e = before.rbegin(); e != before.rend(); ++e) {
      if (BucketOf(e->first, table) == bucket) expected.push_back(*e);
    }
  }
  EXPECT_EQ(Walk(table), expected);
}

TEST(HashTableTest, RemovingTheEntryJustReturnedKeepsTheCursor) {
  ZpHashTable table(32, 0.75f);
  auto [older, newer] = CollidingKeys(32);
  InsertKey(table, older, 0);
  InsertKey(table, newer, 0);
  for (int i = 0; i < 20; ++i) InsertKey(table, "other" + std::to_string(i), 0);
  size_t held = table.count;
  size_t visited = 0;
  ZpHashTable::Iterator it = {&table, 0, nullptr, nullptr};
  for (it.current = table.Next(&it.bucket, &it.next); it.current;
       it.current = table.Next(&it.bucket, &it.next)) {
    ++visited;
    std::string key = KeyOf(it);
    EXPECT_TRUE(table.Remove(key.data(), key.size()));
  }
  EXPECT_EQ(visited, held);
  EXPECT_EQ(table.count, 0u);
  EXPECT_TRUE(Walk(table).empty());
}

TEST(HashTableTest, RemoveUnlinksFromTheMiddleOfAChain) {
  auto [older, newer] = CollidingKeys(32);
  ZpHashTable table(32, 0.75f);
  InsertKey(table, older, 1);
  InsertKey(table, newer, 2);
  EXPECT_TRUE(table.Remove(older.data(), older.size()));  // not the chain head
  uint64_t value = 0;
  EXPECT_FALSE(table.Find(older.data(), older.size(), &value));
  EXPECT_TRUE(table.Find(newer.data(), newer.size(), &value));
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(table.count, 1u);
}

TEST(HashTableTest, FindIteratorContinuesWithTheFollowingEntries) {
  ZpHashTable table(32, 0.75f);
  auto [older, newer] = CollidingKeys(32);
  InsertKey(table, older, 0);
  InsertKey(table, newer, 0);
  for (int i = 0; i < 15; ++i) InsertKey(table, "more" + std::to_string(i), 0);
  auto all = Walk(table);
  for (size_t start = 0; start < all.size(); ++start) {
    const std::string& key = all[start].first;
    ZpHashTable::Iterator it = table.FindIterator(key.data(), key.size());
    ASSERT_NE(it.current, nullptr);
    EXPECT_EQ(KeyOf(it), key);
    size_t position = start + 1;
    for (it.current = table.Next(&it.bucket, &it.next); it.current;
         it.current = table.Next(&it.bucket, &it.next), ++position) {
      ASSERT_LT(position, all.size());
      EXPECT_EQ(KeyOf(it), all[position].first);
    }
    EXPECT_EQ(position, all.size());
  }
}

TEST(HashTableTest, FindIteratorOfAMissingKeyIsTheEnd) {
  ZpTypedHash<const char> table(32, 0.75f);
  table.Insert("present", 5);
  ZpHashTable::Iterator it = table.FindIterator("absent");
  EXPECT_EQ(it.table, &table);
  EXPECT_EQ(it.bucket, 0u);
  EXPECT_EQ(it.next, nullptr);
  EXPECT_EQ(it.current, nullptr);
  EXPECT_EQ(it.Key(), nullptr);
  EXPECT_EQ(it.Value(), 0u);
}

TEST(HashTableTest, ContainsValueComparesNumbers) {
  ZpHashTable table(32, 0.75f);
  table.Insert("a", 1, 10);
  table.Insert("b", 1, 0x100000000ULL);
  EXPECT_TRUE(table.ContainsValue(10));
  EXPECT_TRUE(table.ContainsValue(0x100000000ULL));
  EXPECT_FALSE(table.ContainsValue(0));
  EXPECT_FALSE(table.ContainsValue(11));
}

TEST(HashTableTest, ClearKeepsBucketsAndFreesValuesOnlyWhenAsked) {
  ZpHashTable table(32, 0.75f);
  table.ownsValues = true;
  for (int i = 0; i < 30; ++i) InsertKey(table, "k" + std::to_string(i), i);  // numbers
  table.Clear(false);  // freeing numbers would crash
  EXPECT_EQ(table.count, 0u);
  EXPECT_EQ(table.bucketCount, 64u);
  EXPECT_TRUE(Walk(table).empty());

  uint64_t kept = Str("kept by the caller");
  table.Insert("x", 1, kept);
  table.Clear(false);
  EXPECT_STREQ(AsText(kept), "kept by the caller");
  free(reinterpret_cast<void*>(kept));

  table.Insert("y", 1, Str("freed by clear"));
  table.Clear(true);
  EXPECT_EQ(table.count, 0u);
  table.Insert("z", 1, Str("table still usable"));
  EXPECT_EQ(table.count, 1u);
}

TEST(HashTableTest, CopySharesValuesWithoutOwningThem) {
  ZpTypedHash<const char> source(32, 0.75f);
  source.ownsValues = true;
  for (int i = 0; i < 30; ++i) source.Insert(("path" + std::to_string(i)).c_str(), Str("v"));
  {
    ZpHashTable copy(source);
    EXPECT_FALSE(copy.ownsValues);
    EXPECT_EQ(copy.bucketCount, source.bucketCount);
    EXPECT_EQ(copy.loadFactor, source.loadFactor);
    EXPECT_EQ(copy.count, source.count);
    // Inserting in the source's order reverses each chain, so compare contents.
    EXPECT_EQ(Contents(copy), Contents(source));
  }  // destroying the copy must not free the shared strings
  uint64_t value = 0;
  ASSERT_TRUE(source.Find("path7", &value));
  EXPECT_STREQ(AsText(value), "v");
}

TEST(HashTableTest, FreeValueReleasesAHeapString) {
  ZpHashTable::FreeValue(Str("gone"));
  ZpHashTable::FreeValue(0);
}
