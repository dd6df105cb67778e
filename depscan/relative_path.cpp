#include "relative_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "path_strings.h"
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

// Absolute as paths are: a leading separator, or a drive ("D:").
bool IsAbsolute(const std::string& path) {
  return !path.empty() && (IsSeparator(path[0]) || (path.size() > 1 && path[1] == ':'));
}

// path made absolute against the working directory, in root spelling.
std::string AbsoluteSpelling(const std::string& path) {
  if (IsAbsolute(path)) return RootSpelling(path);
  std::string directory = ZpCurrentDirectory();
  return RootSpelling(directory.empty() ? path : directory + "/" + path);
}

// The folder a root names, as paths are matched against it: absolute, in
// root spelling, without trailing separators (but a lone "/").
std::string RootFolder(const char* root) {
  std::string folder = AbsoluteSpelling(root);
  while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
  return folder;
}

// True when path lies in folder or is folder itself: whole folders only, so
// that the root /show/a does not take /show/ab/t.tif.
bool IsInFolder(const std::string& path, const std::string& folder) {
  if (path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || IsSeparator(folder.back()) ||
         IsSeparator(path[folder.size()]);
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

// Runs for every file-name value: two substring searches, which the library
// does by memchr, instead of a walk over the steps.
bool IsLexicallyNormal(std::string_view path) {
  if (path.find("//") != std::string_view::npos) return false;
  auto dotStep = [&](size_t at) {  // "." or ".." from at, then a "/" or the end
    size_t end = at + (at + 1 < path.size() && path[at + 1] == '.' ? 2 : 1);
    return end == path.size() || path[end] == '/';
  };
  if (!path.empty() && path[0] == '.' && dotStep(0)) return false;
  for (size_t at = path.find("/."); at != std::string_view::npos; at = path.find("/.", at + 1))
    if (dotStep(at + 1)) return false;
  return true;
}

std::string RecordedSpelling(std::string_view path) {
  std::string normal = LexicallyNormalPath(std::string(path));
  if (!path.empty() && path.back() == '/' && normal.back() != '/') normal += '/';
  return normal;
}

std::string SplitRelativePath(const ToolOptions& options, const std::string& path) {
  size_t lastSeparator = path.find_last_of("/\\");
  if (lastSeparator == std::string::npos) return path;
  if (!options.roots.empty()) {
    std::string normal = AbsoluteSpelling(path);
    for (const char* root : options.roots) {
      std::string folder = RootFolder(root);
      if (!IsInFolder(normal, folder)) continue;
      size_t start = folder.size();
      while (normal.size() - start >= 2 && IsSeparator(normal[start])) ++start;
      return normal.substr(start);
    }
  }
  return path.substr(lastSeparator + 1);
}
