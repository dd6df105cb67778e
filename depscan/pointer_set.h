#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A set of addresses: open addressing, eight bytes a slot, no allocation per
// entry. The tracker keeps the interned values it has classified in it, so a
// repeated value costs one probe. Null is never a member.
class PointerSet {
 public:
  PointerSet();

  // True when p was not in the set yet (it is now); false when it was, and
  // for null.
  bool Insert(const void* p);
  size_t size() const { return count; }
  // Empties the set and gives its storage back.
  void Clear();

 private:
  size_t SlotOf(const void* p) const;
  void Grow();

  std::vector<const void*> slots;  // a power of two in size; null is empty
  size_t count = 0;
};
