#include "env_strings.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

const char* ZpLastErrorText() { return strerror(errno); }

const char* ZpInstallDirFromEnvironment() { return getenv("ZEPHRIN"); }

const char* ZpGetEnv(const char* name) { return getenv(name); }

bool ZpSetEnv(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

bool ZpUnsetEnv(const char* name) { return name && unsetenv(name) == 0; }

std::vector<std::string> ZpEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; entry && *entry; ++entry) entries.push_back(*entry);
  return entries;
}

namespace {

constexpr size_t kMaxReferenceName = 127;

// The value of the "${NAME}" reference at `text`, or null when it is not a
// reference (unclosed, name too long, variable unset); *end is set past "}".
const char* ReferenceValue(const char* text, const char** end) {
  if (text[0] != '$' || text[1] != '{' || text[2] == '\0') return nullptr;
  const char* name = text + 2;
  const char* close = strchr(name, '}');
  if (!close || static_cast<size_t>(close - name) > kMaxReferenceName) return nullptr;
  std::string variable(name, close);
  const char* value = getenv(variable.c_str());
  if (value) *end = close + 1;
  return value;
}

}  // namespace

char* ZpExpandEnvironment(const char* text) {
  if (!text || !*text) return nullptr;
  std::string result;
  bool replaced = false;
  for (const char* p = text; *p;) {
    const char* end = nullptr;
    if (const char* value = ReferenceValue(p, &end)) {
      result += value;
      replaced = true;
      p = end;
    } else {
      result += *p++;
    }
  }
  return replaced ? strdup(result.c_str()) : nullptr;
}

char* ZpNextToken(char** cursor, const char* delimiters) {
  char* field = *cursor;
  if (!field) return nullptr;
  char* stop = field + strcspn(field, delimiters);
  if (*stop) {
    *stop = '\0';
    *cursor = stop + 1;
  } else {
    *cursor = nullptr;
  }
  return field;
}

std::string ZpUserName() {
  struct passwd* entry = getpwuid(getuid());
  return entry && entry->pw_name ? entry->pw_name : "";
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void ZpPercentDecode(char* text) {
  char* out = text;
  for (const char* in = text; *in;) {
    int high = in[0] == '%' ? HexValue(in[1]) : -1;
    int low = high >= 0 ? HexValue(in[2]) : -1;
    if (low >= 0) {
      *out++ = static_cast<char>(high * 16 + low);
      in += 3;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}

namespace {

// The whole of `file`, read in doubling chunks; false on a read error.
bool ReadAll(FILE* file, std::string& contents) {
  std::vector<char> buffer(16);
  size_t used = 0;
  size_t room = buffer.size();
  for (;;) {
    size_t got = fread(buffer.data() + used, 1, room, file);
    used += got;
    if (got < room) break;
    room = buffer.size();
    buffer.resize(buffer.size() * 2);
  }
  if (ferror(file)) return false;
  contents.assign(buffer.data(), used);
  return true;
}

}  // namespace

void ZpCommandLine(std::vector<std::string>& out) { ZpReadCommandLine("/proc/self/cmdline", out); }

void ZpReadCommandLine(const char* path, std::vector<std::string>& out) {
  out.clear();
  FILE* file = fopen(path, "rb");
  if (!file) return;
  std::string contents;
  bool read = ReadAll(file, contents);
  fclose(file);
  if (!read || contents.size() < 2 || contents.back() != '\0') return;
  for (size_t start = 0; start < contents.size();) {
    size_t end = contents.find('\0', start);
    out.emplace_back(contents, start, end - start);
    start = end + 1;
  }
}
