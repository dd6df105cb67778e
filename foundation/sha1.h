// One-shot SHA-1 digests of a byte buffer.
#pragma once

#include <cstdint>

// The 20-byte digest of `length` bytes of `data` (state words big-endian,
// first word first). One call digests one whole buffer.
void ZpSha1(const uint8_t* data, uint32_t length, uint8_t digest[20]);

// Compresses one 64-byte block, given as its 16 big-endian words already
// converted to host order, into `state`.
void ZpSha1Transform(uint32_t state[5], const uint32_t words[16]);

// Writes the digest as 40 lower-case hexadecimal characters and a NUL.
void ZpSha1ToHex(const uint8_t digest[20], char text[41]);

// ZpSha1 followed by ZpSha1ToHex.
void ZpSha1Hex(const uint8_t* data, uint32_t length, char text[41]);
