// In-place byte reversal of word arrays, and blocks of executable memory.
#pragma once

#include <cstddef>
#include <cstdint>

// Reverse the bytes of each of `count` words in place. Any alignment works;
// the aligned middle of the array is done 16 bytes at a time.
void ZpSwapBytes64(uint64_t* words, unsigned count);
void ZpSwapBytes32(uint32_t* words, unsigned count);
void ZpSwapBytes16(uint16_t* words, unsigned count);

// A fresh page-aligned, read-and-execute block holding a copy of `size`
// bytes of `code`; returns the pointer to the copy, or null (nothing stays
// mapped then). The 16 bytes before it hold the mapping's length and the
// magic "zpn_exec".
void* ZpAllocExecutable(size_t size, const void* code);

// Releases a block from ZpAllocExecutable. Null, and pointers without the
// magic in front, are ignored.
void ZpFreeExecutable(void* code);
