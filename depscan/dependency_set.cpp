#include "dependency_set.h"

#include <algorithm>
#include <cstdlib>

#include "arena.h"
#include "string_hash.h"

namespace {

constexpr uint32_t kFirstSlots = 8;
constexpr size_t kLargestBlock = size_t{8} << 20;
// Runs this small are sorted by comparing whole paths; runs still tied this
// deep likewise, so the recursion stays shallow whatever the paths.
constexpr ptrdiff_t kSmallRun = 8;
constexpr size_t kMaxWordOffset = 512;

uint64_t WordAt(std::string_view text, size_t offset) {
  unsigned char bytes[8] = {};
  if (offset < text.size()) {
    std::memcpy(bytes, text.data() + offset, std::min<size_t>(8, text.size() - offset));
  }
  uint64_t word = 0;
  for (unsigned char byte : bytes) word = word << 8 | byte;
  return word;
}

size_t CommonPrefix(std::string_view a, std::string_view b, size_t from) {
  size_t limit = std::min(a.size(), b.size());
  size_t same = from;
  while (same < limit && a[same] == b[same]) ++same;
  return same;
}

}  // namespace

DependencySet::~DependencySet() { Clear(); }

void DependencySet::Clear() {
  for (const TextBlock& block : blocks_) ZpFreeLarge(block.data);
  blocks_.clear();
  ZpFreeLarge(spare_.data);
  spare_ = TextBlock{};
  nextBlockSize_ = kFirstBlock;
  ZpFreeLarge(slots_);
  slots_ = nullptr;
  mask_ = 0;
  count_ = 0;
  sorted_ = false;
}

uint32_t DependencySet::Hash(std::string_view path) { return ZpKeyHash(path.data(), path.size()); }

DependencySet::Slot* DependencySet::Find(std::string_view path, uint32_t hash) const {
  uint32_t length = static_cast<uint32_t>(path.size());
  for (uint32_t i = hash & mask_;; i = (i + 1) & mask_) {
    Slot* slot = &slots_[i];
    if (!slot->text) return slot;
    if (slot->hash == hash && slot->length == length &&
        std::memcmp(slot->text, path.data(), length) == 0) {
      return slot;
    }
  }
}

bool DependencySet::Contains(std::string_view path) {
  if (count_ == 0) return false;
  if (sorted_ && walking_) return InSortedOrder(path);
  if (sorted_) Place();
  return Find(path, Hash(path))->text != nullptr;
}

bool DependencySet::InSortedOrder(std::string_view path) const {
  const SortedEntry* entries = reinterpret_cast<const SortedEntry*>(slots_);
  const SortedEntry* end = entries + count_;
  auto before = [](const SortedEntry& e, std::string_view p) { return Text(e.text) < p; };
  const SortedEntry* at = std::lower_bound(entries, end, path, before);
  return at != end && Text(at->text) == path;
}

DependencySet::Slot* DependencySet::SlotFor(std::string_view path, uint32_t hash) {
  if (walking_) std::abort();  // the walk would go on over a table
  if (sorted_) Place();
  // At most three slots in four are used, so every probe ends.
  if (!slots_ || (count_ + 1) * uint64_t{4} > (uint64_t{mask_} + 1) * 3) Grow();
  return Find(path, hash);
}

void DependencySet::Fill(Slot* slot, std::string_view path, uint32_t hash) {
  *slot = Slot{hash, static_cast<uint32_t>(path.size()), Store(path)};
  ++count_;
}

// Each path as its length, its bytes and a NUL, one after the other.
const char* DependencySet::Store(std::string_view path) {
  size_t need = sizeof(uint32_t) + path.size() + 1;
  if (blocks_.empty() || blocks_.back().size - blocks_.back().used < need) {
    if (spare_.data && spare_.size >= need) {
      blocks_.push_back(spare_);
      spare_ = TextBlock{};
    } else {
      size_t size = std::max(nextBlockSize_, need);
      blocks_.push_back(TextBlock{static_cast<char*>(ZpAllocateLarge(size, false)), 0, size});
      nextBlockSize_ = std::min(2 * nextBlockSize_, kLargestBlock);
    }
  }
  TextBlock& block = blocks_.back();
  char* entry = block.data + block.used;
  uint32_t length = static_cast<uint32_t>(path.size());
  std::memcpy(entry, &length, sizeof length);
  std::memcpy(entry + sizeof length, path.data(), path.size());
  entry[sizeof length + path.size()] = '\0';
  block.used += need;
  return entry + sizeof length;
}

// A table that growth replaced takes texts next: its pages are already in
// memory, where a new block would have to be mapped and cleared.
void DependencySet::KeepForTexts(void* table, size_t size) {
  if (spare_.data && spare_.size >= size) {
    ZpFreeLarge(table);
    return;
  }
  ZpFreeLarge(spare_.data);
  spare_ = TextBlock{static_cast<char*>(table), 0, size};
}

// The stored hashes place every path again; the texts stay where they are.
void DependencySet::Grow() {
  Slot* old = slots_;
  uint32_t oldSlots = old ? mask_ + 1 : 0;
  uint32_t slots = old ? 2 * oldSlots : kFirstSlots;
  slots_ = static_cast<Slot*>(ZpAllocateLarge(size_t{slots} * sizeof(Slot), true));
  mask_ = slots - 1;
  for (uint32_t i = 0; i < oldSlots; ++i) {
    if (!old[i].text) continue;
    uint32_t j = old[i].hash & mask_;
    while (slots_[j].text) j = (j + 1) & mask_;
    slots_[j] = old[i];
  }
  if (old) KeepForTexts(old, size_t{oldSlots} * sizeof(Slot));
}

// From sorted order back to the table: every path is hashed again.
void DependencySet::Place() {
  std::memset(static_cast<void*>(slots_), 0, (size_t{mask_} + 1) * sizeof(Slot));
  sorted_ = false;
  ForEach([&](std::string_view path) {
    uint32_t hash = Hash(path);
    uint32_t i = hash & mask_;
    while (slots_[i].text) i = (i + 1) & mask_;
    slots_[i] = Slot{hash, static_cast<uint32_t>(path.size()), path.data()};
  });
}

// Entries whose words tie are sorted further on from where their paths part.
void DependencySet::SortRun(SortedEntry* begin, SortedEntry* end, size_t offset) {
  std::sort(begin, end, [](const SortedEntry& a, const SortedEntry& b) { return a.word < b.word; });
  for (SortedEntry* run = begin; run != end;) {
    SortedEntry* next = run + 1;
    while (next != end && next->word == run->word) ++next;
    if (next - run > 1) SortTied(run, next, offset + sizeof(uint64_t));
    run = next;
  }
}

// Entries whose paths agree on their first `offset` bytes (an ended path
// reading as zeros).
void DependencySet::SortTied(SortedEntry* begin, SortedEntry* end, size_t offset) {
  auto byPath = [](const SortedEntry& a, const SortedEntry& b) {
    return Text(a.text) < Text(b.text);
  };
  if (end - begin <= kSmallRun || offset >= kMaxWordOffset) {
    std::sort(begin, end, byPath);
    return;
  }
  std::string_view first = Text(begin->text);
  size_t common = first.size();
  size_t longest = 0;
  for (SortedEntry* e = begin; e != end; ++e) {
    if (end - e > ptrdiff_t{kReadAhead}) __builtin_prefetch(e[kReadAhead].text);
    std::string_view path = Text(e->text);
    longest = std::max(longest, path.size());
    common = std::min(common, CommonPrefix(first, path, offset));
  }
  common = std::max(common, offset);
  if (longest <= offset) {  // they differ in length only
    std::sort(begin, end, byPath);
    return;
  }
  for (SortedEntry* e = begin; e != end; ++e) {
    if (end - e > ptrdiff_t{kReadAhead}) __builtin_prefetch(e[kReadAhead].text);
    e->word = WordAt(Text(e->text), common);
  }
  SortRun(begin, end, common);
}

void DependencySet::Sort() {
  if (sorted_ || count_ == 0) return;
  static_assert(sizeof(SortedEntry) == sizeof(Slot), "entries take the slots' place");
  SortedEntry* entries = Sorted();
  // Entries in the order of the text blocks, which reads the paths in the
  // order they lie in memory; their common prefix is skipped at once.
  uint32_t n = 0;
  std::string_view first;
  size_t common = 0;
  ForEach([&](std::string_view path) {
    if (n == 0) {
      first = path;
      common = path.size();
    } else {
      common = std::min(common, CommonPrefix(first, path, 0));
    }
    entries[n++] = SortedEntry{0, path.data()};
  });
  for (uint32_t i = 0; i < n; ++i) entries[i].word = WordAt(Text(entries[i].text), common);
  SortRun(entries, entries + n, common);
  sorted_ = true;
}
