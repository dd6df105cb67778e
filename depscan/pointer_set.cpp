#include "pointer_set.h"

namespace {

constexpr size_t kInitialSlots = 64;

}  // namespace

PointerSet::PointerSet() : slots(kInitialSlots, nullptr) {}

void PointerSet::Clear() {
  std::vector<const void*>(kInitialSlots, nullptr).swap(slots);
  count = 0;
}

size_t PointerSet::SlotOf(const void* p) const {
  // Fibonacci hashing: the low bits of an address are mostly alignment.
  uint64_t mixed = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(mixed >> 32) & (slots.size() - 1);
}

bool PointerSet::Insert(const void* p) {
  if (!p) return false;
  size_t mask = slots.size() - 1;
  for (size_t i = SlotOf(p);; i = (i + 1) & mask) {
    if (slots[i] == p) return false;
    if (slots[i]) continue;
    slots[i] = p;
    if (++count * 2 > slots.size()) Grow();
    return true;
  }
}

void PointerSet::Grow() {
  std::vector<const void*> old(slots.size() * 2, nullptr);
  old.swap(slots);
  size_t mask = slots.size() - 1;
  for (const void* p : old) {
    if (!p) continue;
    size_t i = SlotOf(p);
    while (slots[i]) i = (i + 1) & mask;
    slots[i] = p;
  }
}
