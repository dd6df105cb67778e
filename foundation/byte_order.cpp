#include "byte_order.h"

#include <emmintrin.h>
#include <sys/mman.h>

#include "zp_config.h"

#if ZP_HAVE_VALGRIND_H
#include <valgrind/valgrind.h>
#else
// Without Valgrind's header the request is left out: run under Valgrind,
// the program then does not tell it, as it does not outside it.
#define VALGRIND_DISCARD_TRANSLATIONS(start, length) ((void)(start), (void)(length))
#endif

#include <cstdint>
#include <cstring>

namespace {

// Words are loaded and stored through memcpy: the array need not be aligned
// to its word width.
template <typename Word>
Word LoadWord(const Word* p) {
  Word w;
  memcpy(&w, p, sizeof w);
  return w;
}

template <typename Word>
void StoreWord(Word* p, Word w) {
  memcpy(p, &w, sizeof w);
}

inline uint16_t Swap(uint16_t w) { return __builtin_bswap16(w); }
inline uint32_t Swap(uint32_t w) { return __builtin_bswap32(w); }
inline uint64_t Swap(uint64_t w) { return __builtin_bswap64(w); }

// SSE2 only (the x86-64 baseline): swap bytes in 16-bit lanes, after the
// lanes themselves have been reordered for the wider words.
inline __m128i SwapLanes16(__m128i v) {
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
inline __m128i SwapLanes32(__m128i v) {
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  return SwapLanes16(v);
}
inline __m128i SwapLanes64(__m128i v) {
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
  return SwapLanes16(v);
}

inline __m128i* AsVector(void* p) { return static_cast<__m128i*>(p); }

template <typename Word>
void SwapOneByOne(Word* words, unsigned count) {
  for (unsigned i = 0; i < count; ++i) StoreWord(words + i, Swap(LoadWord(words + i)));
}

// Single words up to the first 16-byte boundary; the count left is returned.
template <typename Word>
unsigned SwapUpToAlignment(Word*& words, unsigned count) {
  while (count > 0 && reinterpret_cast<uintptr_t>(words) % 16 != 0) {
    SwapOneByOne(words, 1);
    ++words;
    --count;
  }
  return count;
}

// The aligned middle, `vectorsPerStep` vectors a step, then the tail.
template <typename Word, __m128i (*SwapVector)(__m128i)>
void SwapArray(Word* words, unsigned count, unsigned vectorsPerStep) {
  count = SwapUpToAlignment(words, count);
  const unsigned wordsPerStep = vectorsPerStep * (16 / sizeof(Word));
  for (; count >= wordsPerStep; count -= wordsPerStep, words += wordsPerStep) {
    for (unsigned v = 0; v < vectorsPerStep; ++v) {
      __m128i* lane = AsVector(words) + v;
      _mm_store_si128(lane, SwapVector(_mm_load_si128(lane)));
    }
  }
  SwapOneByOne(words, count);
}

constexpr char kExecutableMagic[8] = {'z', 'p', 'n', '_', 'e', 'x', 'e', 'c'};
constexpr size_t kHeaderSize = 16;

}  // namespace

void ZpSwapBytes64(uint64_t* words, unsigned count) {
  SwapArray<uint64_t, SwapLanes64>(words, count, 1);
}

void ZpSwapBytes32(uint32_t* words, unsigned count) {
  SwapArray<uint32_t, SwapLanes32>(words, count, 2);
}

void ZpSwapBytes16(uint16_t* words, unsigned count) {
  SwapArray<uint16_t, SwapLanes16>(words, count, 4);
}

void* ZpAllocExecutable(size_t size, const void* code) {
  if (size > SIZE_MAX - kHeaderSize) return nullptr;
  const uint64_t total = size + kHeaderSize;
  void* mapping = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  char* block = static_cast<char*>(mapping);
  memcpy(block, &total, sizeof total);
  memcpy(block + 8, kExecutableMagic, sizeof kExecutableMagic);
  if (size > 0) memcpy(block + kHeaderSize, code, size);
  if (mprotect(mapping, total, PROT_READ | PROT_EXEC) != 0) {
    munmap(mapping, total);
    return nullptr;
  }
  return block + kHeaderSize;
}

void ZpFreeExecutable(void* code) {
  if (!code) return;
  char* block = static_cast<char*>(code) - kHeaderSize;
  if (memcmp(block + 8, kExecutableMagic, sizeof kExecutableMagic) != 0) return;
  uint64_t total;
  memcpy(&total, block, sizeof total);
  VALGRIND_DISCARD_TRANSLATIONS(block, total);
  munmap(block, total);
}
