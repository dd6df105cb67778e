#include "relative_path.h"

#include <cstring>

#include "tool_options.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string SplitRelativePath(const ToolOptions& options, const std::string& path) {
  size_t lastSeparator = path.find_last_of("/\\");
  if (lastSeparator == std::string::npos) return path;
  for (const char* root : options.roots) {
    size_t rootLength = std::strlen(root);
    if (path.compare(0, rootLength, root) != 0) continue;
    size_t start = rootLength;
    while (path.size() - start >= 2 && IsSeparator(path[start])) ++start;
    return path.substr(start);
  }
  return path.substr(lastSeparator + 1);
}
