#include "path_strings.h"

#include "file_utils.h"

#include <dlfcn.h>
#include <link.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Classic-locale letter test, independent of the process's locale.
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

size_t DrivePrefixLength(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' && IsAsciiLetter(path[0]) ? 2 : 0;
}

// Both "/" and "\\" separate.
size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

}  // namespace

std::string ZpBaseName(const std::string& path) {
  std::string rest = path;
  for (;;) {
    size_t drive = DrivePrefixLength(rest);
    size_t last = LastSeparator(rest);
    if (last == std::string::npos) return rest.substr(drive);
    if (last + 1 < rest.size()) return rest.substr(last + 1);
    if (last == drive) return rest.substr(drive);
    rest.pop_back();  // trailing separator: ignore it and look again
  }
}

std::string ZpDirName(const std::string& path) {
  std::string rest = path;
  for (;;) {
    size_t drive = DrivePrefixLength(rest);
    size_t last = LastSeparator(rest);
    if (last == std::string::npos) return drive ? rest.substr(0, drive) : ".";
    if (last == drive) return rest.substr(0, drive + 1);
    if (last + 1 < rest.size()) return rest.substr(0, last);
    rest.pop_back();
  }
}

std::string ZpCanonicalPath(const std::string& path) {
  if (path.empty()) return path;
  std::string resolved = ZpRealPath(path);
  if (!resolved.empty()) return resolved;
  std::string directory = ZpDirName(path);
  if (!directory.empty()) {
    std::string resolvedDirectory = ZpRealPath(directory);
    if (!resolvedDirectory.empty()) return resolvedDirectory + "/" + ZpBaseName(path);
  }
  return path;
}

std::string ZpCurrentDirectory() {
  char* cwd = getcwd(nullptr, 0);
  if (!cwd) return std::string();
  std::string result = cwd;
  free(cwd);
  return result;
}

char* ZpTemporaryPath(const char* name) {
  const char* directory = getenv("TMPDIR");
  if (!directory) directory = "/tmp";
  int size = snprintf(nullptr, 0, "%s/%s", directory, name) + 1;
  char* result = static_cast<char*>(malloc(size));
  if (result) snprintf(result, size, "%s/%s", directory, name);
  return result;
}

std::string ZpUserConfigPath(const std::string& name) {
  std::string home;
  if (const char* fromEnvironment = getenv("HOME")) {
    home = fromEnvironment;
  } else {
    struct passwd* entry = getpwuid(getuid());
    if (entry && entry->pw_dir && entry->pw_dir[0]) home = entry->pw_dir;
    endpwent();
  }
  return home + "/.config/" + name;
}

char* ZpExecutablePath() {
  size_t size = 100;
  char* buffer = static_cast<char*>(malloc(size));
  for (;;) {
    if (!buffer) return nullptr;
    ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length < 0) {
      free(buffer);
      return nullptr;
    }
    if (static_cast<size_t>(length) < size - 1) {
      buffer[length] = '\0';
      break;
    }
    // The link may have been cut: read it again into twice the room.
    size *= 2;
    char* larger = static_cast<char*>(realloc(buffer, size));
    if (!larger) free(buffer);
    buffer = larger;
  }
  std::string resolved = ZpRealPath(buffer);
  free(buffer);
  return resolved.empty() ? nullptr : strdup(resolved.c_str());
}

namespace {

// Any object of this library will do; its address tells the loader which
// loaded file we are in.
const char kModuleAnchor = 0;

// `path` made absolute against the working directory, with "." steps and
// repeated separators dropped and each ".." taking back the step before it:
// for a file that can no longer be resolved on disk.
std::string LexicallyAbsolute(const std::string& path) {
  std::string full = path[0] == '/' ? path : ZpCurrentDirectory() + "/" + path;
  std::string result;
  size_t at = 0;
  while (at < full.size()) {
    size_t end = full.find('/', at);
    if (end == std::string::npos) end = full.size();
    std::string step = full.substr(at, end - at);
    if (step == "..") {
      result.erase(result.empty() ? 0 : result.rfind('/'));
    } else if (!step.empty() && step != ".") {
      result += "/" + step;
    }
    at = end + 1;
  }
  return result.empty() ? "/" : result;
}

}  // namespace

std::string ZpModulePath() {
  Dl_info info;
  link_map* module = nullptr;
  if (dladdr1(&kModuleAnchor, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) == 0) return std::string();
  // For the program itself the loader reports the name it was started by
  // (a bare name found along PATH, "./tracwell", a link, or whatever the
  // starter chose); the system knows the file it runs.
  if (module && module->l_name[0] == '\0') {
    if (char* program = ZpExecutablePath()) {
      std::string name = program;
      free(program);
      return name;
    }
  }
  if (!info.dli_fname || !info.dli_fname[0]) return std::string();
  std::string name = info.dli_fname;
  std::string resolved = ZpRealPath(name);
  if (!resolved.empty()) return resolved;
  // A bare name was found along PATH and names no file here.
  return name.find('/') == std::string::npos ? std::string() : LexicallyAbsolute(name);
}
