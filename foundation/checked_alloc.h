// Allocation for the foundation's containers. Running out of memory is not
// something a caller of a hash table or string pool can recover from, and a
// null entry would corrupt the structure silently, so these never return
// null. Like operator new they call the installed new-handler
// (std::set_new_handler) and try again, so a program handles exhaustion in
// one place; without one they print one line on standard error and abort.
#pragma once

#include <cstddef>

// malloc that never returns null; with no new-handler a failure prints
// "fatal: out of memory (<n> bytes)" on stderr and aborts.
void* ZpCheckedMalloc(size_t size);

// calloc of count * size bytes with the same failure behaviour; a product that
// overflows counts as a failure.
void* ZpCheckedCalloc(size_t count, size_t size);

// A copy of text on the heap (release with free), with the same failure
// behaviour.
char* ZpCheckedStrdup(const char* text);
