#include "version.h"

#include <cstdio>

namespace {

// Formats the banner with the given leading format word into buffer once.
const char* Banner(char* buffer, size_t size, bool* built, const char* format) {
  if (!*built) {
    std::snprintf(buffer, size - 1, format, kZpVersionMajor, kZpVersionMinor,
                  kZpVersionPatch, kZpPlatformWord, kZpBuildDate, ", ",
                  kZpBuildIdentifier, kZpCodeName);
    *built = true;
  }
  return buffer;
}

}  // namespace

const char* ZpVersionString() {
  static char buffer[256];
  static bool built = false;
  return Banner(buffer, sizeof buffer, &built, "%d.%d.%d %s (%s%s%s) \"%s\"");
}

const char* ZpProductVersionString() {
  static char buffer[256];
  static bool built = false;
  return Banner(buffer, sizeof buffer, &built, "Zephrin %d.%d.%d %s (%s%s%s) \"%s\"");
}

const char* ZpNoticeString() {
  static char buffer[64];
  if (buffer[0] == '\0') {
    std::snprintf(buffer, sizeof buffer - 1, "Copyright (c) %s the tracwell authors.",
                  kZpNoticeYear);
  }
  return buffer;
}

int ZpAlwaysTrue() { return 1; }
