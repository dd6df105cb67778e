#include "string_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "string_hash.h"

namespace {

// Strings of 20 to 39 bytes with their NUL, across the 28/29 hash switch.
std::vector<std::string> Names(int count, const std::string& tag = "") {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    std::string name = tag + std::to_string(i) + "/";
    name.resize(19 + i % 20, 'n');
    names.push_back(name);
  }
  return names;
}

unsigned char* Lookup(const ZpStringSet& set, ZpStringSet::Table* table, const std::string& s) {
  uint32_t slot;
  uint32_t length = static_cast<uint32_t>(s.size() + 1);
  return set.ProbeTable(table, s.c_str(), length, ZpKeyHash(s.c_str(), length), &slot);
}

}  // namespace

TEST(StringPoolTest, NullInternsAsZeroAndZeroHasNoString) {
  ZpStringPool pool;
  EXPECT_EQ(pool.Intern(nullptr), 0u);
  EXPECT_EQ(pool.String(0), nullptr);
  EXPECT_EQ(pool.Intern("first"), 1u);  // the null did not use up an id
}

TEST(StringPoolTest, EqualStringsShareOneIdAndOneCopy) {
  ZpStringPool pool;
  std::string a = "textures/wood.tif";
  std::string sameText = a;
  EXPECT_EQ(pool.Intern(a.c_str()), 1u);
  EXPECT_EQ(pool.Intern("shaders/plastic.oso"), 2u);
  EXPECT_EQ(pool.Intern(sameText.c_str()), 1u);
  const char* copy = pool.String(1);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, a.c_str());
  EXPECT_STREQ(copy, "textures/wood.tif");
  EXPECT_EQ(pool.String(1), copy);
  EXPECT_STREQ(pool.String(2), "shaders/plastic.oso");
  EXPECT_EQ(pool.String(3), nullptr);  // not handed out yet
}

TEST(StringPoolTest, EmptyStringIsAKeyOfItsOwn) {
  ZpStringPool pool;
  uint32_t empty = pool.Intern("");
  EXPECT_EQ(empty, 1u);
  EXPECT_EQ(pool.Intern(""), empty);
  EXPECT_STREQ(pool.String(empty), "");
  EXPECT_EQ(pool.Intern("x"), 2u);
}

TEST(StringPoolTest, InternAsMakesTheIdGiveTheCallersPointer) {
  ZpStringPool pool;
  static const char kMine[] = "owned/by/caller";
  const char** element = pool.InternAs(kMine);
  EXPECT_EQ(*element, kMine);
  uint32_t id = pool.Intern("owned/by/caller");
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(pool.String(id), kMine);
}

TEST(StringPoolTest, StringOfAnIdBeyondAllocatedSegmentsAllocatesNothing) {
  ZpStringPool pool;
  for (int i = 0; i < 15; ++i) pool.Intern(("s" + std::to_string(i)).c_str());  // ids 1-15
  EXPECT_EQ(pool.ids.segments[1].load(), nullptr);
  EXPECT_EQ(pool.String(16), nullptr);
  EXPECT_EQ(pool.String(100000), nullptr);
  EXPECT_EQ(pool.ids.segments[1].load(), nullptr);
  EXPECT_EQ(pool.Intern("sixteenth"), 16u);
  EXPECT_NE(pool.ids.segments[1].load(), nullptr);
  EXPECT_STREQ(pool.String(16), "sixteenth");
}

TEST(SegmentedArrayTest, IndexesMapToTheirSegments) {
  ZpSegmentedArray array(8);
  auto at = [&](uint32_t segment, uint32_t offset) {
    return array.segments[segment].load() + offset * 8;
  };
  EXPECT_EQ(array.Slot(0, false), at(0, 0));
  EXPECT_EQ(array.Slot(15, false), at(0, 15));
  EXPECT_EQ(array.Slot(16, false), nullptr);
  void* allocated = array.Slot(32, true);
  EXPECT_EQ(allocated, at(2, 0));
  // Allocating segment 2 also allocated segment 1.
  EXPECT_EQ(array.Slot(16, false), at(1, 0));
  EXPECT_EQ(array.Slot(31, false), at(1, 15));
  EXPECT_EQ(array.Slot(63, false), at(2, 31));
  EXPECT_EQ(array.Slot(64, false), nullptr);
  EXPECT_EQ(array.Slot(0xffffffffu, false), nullptr);
  for (uint32_t k = 3; k < ZpSegmentedArray::kSegments; ++k) {
    EXPECT_EQ(array.segments[k].load(), nullptr) << k;
  }
  uint64_t zero = 1;
  std::memcpy(&zero, array.Slot(40, false), sizeof zero);
  EXPECT_EQ(zero, 0u);  // zero-filled
}

TEST(SegmentedArrayTest, ReserveAllocatesTheLowerSegments) {
  ZpSegmentedArray array(4);
  array.Reserve(5);
  for (uint32_t k = 0; k <= 5; ++k) EXPECT_NE(array.segments[k].load(), nullptr) << k;
  EXPECT_EQ(array.segments[6].load(), nullptr);
  // Segment 5 holds the 256 elements from 256.
  EXPECT_EQ(array.Slot(511, false), array.segments[5].load() + 255 * 4);
}

TEST(StringSetTest, FindsInsertsAndHandsOutZeroedUserData) {
  ZpStringSet set(4);
  EXPECT_EQ(set.FindOrInsert("key", 3, false), nullptr);
  void* data = set.FindOrInsert("key", 3, true);
  ASSERT_NE(data, nullptr);
  uint32_t user;
  std::memcpy(&user, data, sizeof user);
  EXPECT_EQ(user, 0u);
  EXPECT_EQ(set.FindOrInsert("key", 3, false), data);
  EXPECT_EQ(set.FindOrInsert("key", 3, true), data);
  EXPECT_EQ(set.FindOrInsert("ke", 2, false), nullptr);
  uint32_t length = 0;
  const void* key = set.EntryKey(data, &length);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::memcmp(key, "key", 3), 0);
  EXPECT_EQ(set.count, 1u);

  ZpStringSet bare(0);  // no user data: the key starts at the handed-out address
  void* bareData = bare.FindOrInsert("abc", 3, true);
  EXPECT_EQ(bare.EntryKey(bareData, nullptr), bareData);
  EXPECT_EQ(std::memcmp(bareData, "abc", 3), 0);
}

TEST(StringSetTest, TwentyFourthStringGrowsAndOldTableStillFindsTheFirst23) {
  ZpStringPool pool;
  std::vector<std::string> names = Names(24);
  for (int i = 0; i < 23; ++i) pool.Intern(names[i].c_str());
  EXPECT_EQ(pool.set.capacity, 32u);
  EXPECT_EQ(pool.set.threshold, 24u);
  EXPECT_EQ(pool.set.retiredCount, 0u);
  ZpStringSet::Table* before = pool.set.table.load();

  pool.Intern(names[23].c_str());
  EXPECT_EQ(pool.set.capacity, 64u);
  EXPECT_EQ(pool.set.threshold, 48u);
  EXPECT_EQ(pool.set.count, 24u);
  ASSERT_EQ(pool.set.retiredCount, 1u);
  EXPECT_EQ(pool.set.retired[0], before);
  for (int i = 0; i < 23; ++i) {
    unsigned char* old = Lookup(pool.set, before, names[i]);
    ASSERT_NE(old, nullptr) << names[i];
    EXPECT_EQ(old, Lookup(pool.set, pool.set.table.load(), names[i]));  // same entry
  }
  EXPECT_EQ(Lookup(pool.set, before, names[23]), nullptr);
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(pool.Intern(names[i].c_str()), static_cast<uint32_t>(i + 1));
    EXPECT_EQ(pool.String(i + 1), names[i]);
  }
}

// Eleven growths overflow the ten retired places inside the set.
TEST(StringSetTest, ManyGrowthsKeepEveryStringAndEveryRetiredTable) {
  ZpStringPool pool;
  std::vector<std::string> names = Names(40000, "many");
  for (const std::string& name : names) pool.Intern(name.c_str());
  EXPECT_EQ(pool.set.capacity, 32u << 11);
  EXPECT_EQ(pool.set.retiredCount, 11u);
  EXPECT_EQ(pool.set.retiredRoom, 21u);
  for (size_t i = 0; i < names.size(); i += 97) {
    EXPECT_EQ(pool.Intern(names[i].c_str()), i + 1) << names[i];
  }
  EXPECT_NE(Lookup(pool.set, pool.set.retired[0], names[0]), nullptr);
}

TEST(StringSetTest, IteratorWalksTheTableCurrentAtBegin) {
  ZpStringSet set(4);
  ZpStringSet::Iterator empty;
  empty.Begin(set);
  EXPECT_TRUE(empty.AtEnd());

  std::vector<std::string> names = Names(23);
  for (const std::string& name : names) set.FindOrInsert(name.c_str(), name.size() + 1, true);
  ZpStringSet::Iterator it;
  it.Begin(set);
  std::vector<std::string> more = Names(30, "later");
  for (const std::string& name : more) set.FindOrInsert(name.c_str(), name.size() + 1, true);
  ASSERT_GT(set.retiredCount, 0u);

  std::set<std::string> visited;
  for (; !it.AtEnd(); it.Next()) {
    visited.insert(static_cast<const char*>(set.EntryKey(it.UserData(), nullptr)));
  }
  EXPECT_EQ(visited, std::set<std::string>(names.begin(), names.end()));
  EXPECT_EQ(it.set, nullptr);
  EXPECT_EQ(it.index, 0u);
}

// Threads intern the same new strings at once; each string must end up with
// one id that every thread received, and ids lost in a race stay empty.
TEST(StringPoolTest, ThreadsInterningTheSameStringsAgreeOnIds) {
  const int kThreads = 4;
  std::vector<std::string> names = Names(3000, "shared");
  ZpStringPool pool;
  std::vector<std::vector<uint32_t>> got(kThreads, std::vector<uint32_t>(names.size()));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < kThreads) {
      }
      for (size_t i = 0; i < names.size(); ++i) {
        got[t][i] = pool.Intern(names[i].c_str());
        EXPECT_STREQ(pool.String(got[t][i]), names[i].c_str());
      }
    });
  }
  for (std::thread& t : threads) t.join();

  std::set<uint32_t> handedOut;
  for (size_t i = 0; i < names.size(); ++i) {
    for (int t = 1; t < kThreads; ++t) ASSERT_EQ(got[t][i], got[0][i]) << names[i];
    EXPECT_EQ(pool.Intern(names[i].c_str()), got[0][i]);
    handedOut.insert(got[0][i]);
  }
  EXPECT_EQ(handedOut.size(), names.size());
  EXPECT_EQ(pool.set.count, names.size());
  uint32_t drawn = pool.nextId.load();
  for (uint32_t id = 1; id < drawn; ++id) {
    if (!handedOut.count(id)) {
      EXPECT_EQ(pool.String(id), nullptr) << id;
    }
  }
  EXPECT_EQ(pool.Intern("after the race"), drawn);
}
