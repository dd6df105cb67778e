#include "out_of_memory.h"

#include <unistd.h>

#include <cstdio>
#include <new>

namespace {

const char* currentActivity = "starting";
// A copy: the name's own storage may be gone by the time memory runs out.
char currentName[4096];
bool hasName = false;

// Formats on the stack and writes at once: nothing here may need memory.
[[noreturn]] void ReportOutOfMemory() {
  char line[4096];
  int length = hasName
                   ? std::snprintf(line, sizeof line, "tracwell: out of memory while %s '%s'\n",
                                   currentActivity, currentName)
                   : std::snprintf(line, sizeof line, "tracwell: out of memory while %s\n",
                                   currentActivity);
  if (length > 0) {
    size_t size = static_cast<size_t>(length) < sizeof line ? size_t(length) : sizeof line - 1;
    ssize_t ignored = write(2, line, size);
    (void)ignored;
  }
  _exit(1);
}

}  // namespace

void InstallOutOfMemoryHandler() { std::set_new_handler(ReportOutOfMemory); }

void NoteActivity(const char* activity, const char* name) {
  currentActivity = activity;
  hasName = name != nullptr;
  if (hasName) std::snprintf(currentName, sizeof currentName, "%s", name);
}
