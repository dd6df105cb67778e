// Non-cryptographic hashes over byte strings, and the key hash that places
// every key of the hash tables and of the string pool's set. Bucket positions
// and iteration order follow from these values, so they must match the
// published functions exactly.
#pragma once

#include <cstddef>
#include <cstdint>

// Paul Hsieh's SuperFastHash, except that the running hash starts from
// `initial` instead of from the length. Null data or length 0 gives 0.
uint32_t ZpSuperFastHash(const void* data, size_t length, uint32_t initial);

// Bob Jenkins' SpookyHash Hash128, first version. *hash1 and *hash2 hold the
// two seeds on entry and the two halves of the result on return.
void ZpSpookyHash128(const void* data, size_t length, uint64_t* hash1, uint64_t* hash2);

// Bob Jenkins' lookup2 hash; `initial` is the third starting word.
uint32_t ZpHashLookup2(const void* data, size_t length, uint32_t initial);

// The key hash: SuperFastHash from 0 below 29 bytes, otherwise the low 32
// bits of the first SpookyHash128 half with both seeds 0.
uint32_t ZpKeyHash(const void* key, size_t length);
