#include "out_of_memory.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Per thread: each thread names what it is doing itself.
thread_local const char* currentActivity = "starting";
// A copy: the name's own storage may be gone by the time memory runs out.
thread_local char currentName[4096];
thread_local bool hasName = false;
thread_local bool throwsOnExhaustion = false;
thread_local char message[4096];

// Formats on the stack and writes at once: nothing here may need memory.
[[noreturn]] void ReportOutOfMemory() {
  if (throwsOnExhaustion) throw std::bad_alloc();
  const char* line = OutOfMemoryMessage();
  ssize_t ignored = write(2, line, std::strlen(line));
  (void)ignored;
  _exit(1);
}

}  // namespace

void InstallOutOfMemoryHandler() { std::set_new_handler(ReportOutOfMemory); }

void NoteActivity(const char* activity, const char* name) {
  currentActivity = activity;
  hasName = name != nullptr;
  if (hasName) std::snprintf(currentName, sizeof currentName, "%s", name);
}

void ThrowOnExhaustion(bool throws) { throwsOnExhaustion = throws; }

const char* OutOfMemoryMessage() {
  int length = hasName ? std::snprintf(message, sizeof message,
                                       "tracwell: out of memory while %s '%s'\n", currentActivity,
                                       currentName)
                       : std::snprintf(message, sizeof message,
                                       "tracwell: out of memory while %s\n", currentActivity);
  if (length < 0) message[0] = '\0';
  return message;
}
