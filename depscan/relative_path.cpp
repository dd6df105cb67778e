#include "relative_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <vector>

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

bool IsSymbolicLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string Joined(bool absolute, const std::vector<std::string_view>& parts) {
  std::string joined = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) joined += '/';
    joined += parts[i];
  }
  return joined;
}

// The spelling roots are matched against: "." steps and repeated
// separators dropped, and ".." steps taken back where that is sound, so that
// "/shot/work/../tex/a.tif" lies below the root /shot as /shot/tex/a.tif
// does.
std::string RootSpelling(const std::string& path) {
  std::string spelled = WithoutDotSteps(path);
  if (spelled.find("..") == std::string::npos) return spelled;  // spares the disk
  bool trailing = IsSeparator(spelled.back());
  std::string normal = LexicallyNormalPath(spelled);
  return trailing && normal != "/" ? normal + "/" : normal;
}

}  // namespace

std::string LexicallyNormalPath(const std::string& path) {
  bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string_view> kept;
  for (size_t start = 0; start <= path.size();) {
    size_t end = std::min(path.find('/', start), path.size());
    std::string_view part = std::string_view(path).substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." && absolute && kept.empty()) continue;  // "/.." is "/"
    if (part == ".." && !kept.empty() && kept.back() != ".." &&
        !IsSymbolicLink(Joined(absolute, kept))) {
      kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::string normal = Joined(absolute, kept);
  return normal.empty() && !path.empty() ? "." : normal;
}

std::string SplitRelativePath(const ToolOptions& options, const std::string& path) {
  size_t lastSeparator = path.find_last_of("/\\");
  if (lastSeparator == std::string::npos) return path;
  if (!options.roots.empty()) {
    std::string normal = RootSpelling(path);
    for (const char* root : options.roots) {
      std::string prefix = RootSpelling(root);
      if (normal.compare(0, prefix.size(), prefix) != 0) continue;
      size_t start = prefix.size();
      while (normal.size() - start >= 2 && IsSeparator(normal[start])) ++start;
      return normal.substr(start);
    }
  }
  return path.substr(lastSeparator + 1);
}
