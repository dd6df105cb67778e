#include "file_utils.h"

#include <climits>
#include <cstdlib>

std::string ZpRealPath(const std::string& path) {
  if (path.empty()) return std::string();
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::string();
  return resolved;
}
