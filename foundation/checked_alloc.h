// Allocation for the foundation's containers. Running out of memory is not
// something a caller of a hash table or string pool can recover from, and a
// null entry would corrupt the structure silently, so these print one line on
// standard error and abort instead of returning null.
#pragma once

#include <cstddef>

// malloc that never returns null: on failure prints
// "fatal: out of memory (<n> bytes)" on stderr and aborts.
void* ZpCheckedMalloc(size_t size);

// calloc of count * size bytes with the same failure behaviour; a product that
// overflows counts as a failure.
void* ZpCheckedCalloc(size_t count, size_t size);
