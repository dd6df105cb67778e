#include "dependency_listing.h"

#include <cstdio>
#include <string>

#include "dependency_tracker.h"

namespace {

// Lines gathered into blocks: one library call per block rather than
// several per line counts in listings of a million names.
constexpr size_t kBlockSize = 1 << 16;

void Flush(std::string& block, FILE* out) {
  std::fwrite(block.data(), 1, block.size(), out);
  block.clear();
}

}  // namespace

void PrintTrackerListing(DependencyTracker& tracker, uint32_t kindMask, FILE* out) {
  std::string block;
  block.reserve(kBlockSize);
  for (uint32_t bit = DependencyKind::Shader; bit <= DependencyKind::MissingProcedural;
       bit <<= 1) {
    if (!(kindMask & bit)) continue;
    DependencyKind kind = static_cast<DependencyKind>(bit);
    const char* prefix = DependencyKindPrefix(kind);
    // Each line is "<prefix> <path>".
    tracker.ForEachSorted(kind, [&](std::string_view path) {
      block.append(prefix).append(1, ' ').append(path).append(1, '\n');
      if (block.size() >= kBlockSize) Flush(block, out);
    });
  }
  Flush(block, out);
}
