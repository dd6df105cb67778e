#include "dependency_listing.h"

#include <cstdio>
#include <string>
#include <vector>

#include "dependency_tracker.h"

namespace {

// Lines gathered into blocks: one library call per block rather than
// several per line counts in listings of a million names.
constexpr size_t kBlockSize = 1 << 16;
constexpr size_t kReadAhead = 16;

void Flush(std::string& block) {
  std::fwrite(block.data(), 1, block.size(), stdout);
  block.clear();
}

}  // namespace

void PrintTrackerListing(DependencyTracker& tracker, uint32_t kindMask) {
  std::string block;
  block.reserve(kBlockSize);
  for (uint32_t bit = DependencyKind::Shader; bit <= DependencyKind::MissingProcedural;
       bit <<= 1) {
    if (!(kindMask & bit)) continue;
    DependencyKind kind = static_cast<DependencyKind>(bit);
    const char* prefix = DependencyKindPrefix(kind);
    // Each line is "<prefix> <path>".
    // The keys lie at random addresses; asking for one a few lines ahead
    // overlaps the cache misses of reading them.
    std::vector<std::string_view> paths = tracker.SortedKeys(kind);
    for (size_t i = 0; i < paths.size(); ++i) {
      if (i + kReadAhead < paths.size()) __builtin_prefetch(paths[i + kReadAhead].data());
      std::string_view path = paths[i];
      block.append(prefix).append(1, ' ').append(path).append(1, '\n');
      if (block.size() >= kBlockSize) Flush(block);
    }
  }
  Flush(block);
}
