#include "relative_path.h"

#include "tool_options.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// path without its "." steps and with each run of separators made one, so
// that "/shot/./tex/a.tif" (a stream named "shot.rib" read from /shot) and
// "/shot/tex/a.tif" have one relative name. ".." steps stay.
std::string WithoutDotSteps(const std::string& path) {
  std::string out;
  for (size_t i = 0; i < path.size();) {
    if (IsSeparator(path[i])) {
      if (out.empty() || !IsSeparator(out.back())) out += path[i];
      ++i;
      continue;
    }
    size_t end = i;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end - i == 1 && path[i] == '.') {
      for (i = end; i < path.size() && IsSeparator(path[i]);) ++i;
      continue;
    }
    out.append(path, i, end - i);
    i = end;
  }
  return out;
}

}  // namespace

std::string SplitRelativePath(const ToolOptions& options, const std::string& path) {
  size_t lastSeparator = path.find_last_of("/\\");
  if (lastSeparator == std::string::npos) return path;
  if (!options.roots.empty()) {
    std::string normal = WithoutDotSteps(path);
    for (const char* root : options.roots) {
      std::string prefix = WithoutDotSteps(root);
      if (normal.compare(0, prefix.size(), prefix) != 0) continue;
      size_t start = prefix.size();
      while (normal.size() - start >= 2 && IsSeparator(normal[start])) ++start;
      return normal.substr(start);
    }
  }
  return path.substr(lastSeparator + 1);
}
