#include "string_hash.h"

#include <cstring>

namespace {

// Unaligned little-endian reads; the machine is x86-64, so memcpy is the
// portable way to say "load" without alignment or aliasing trouble.
uint16_t Load16(const unsigned char* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The published function reads single tail bytes as signed characters.
uint32_t SignedByte(unsigned char c) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
}

uint64_t Rot64(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

const uint64_t kSpookyConst = 0xdeadbeefdeadbeefULL;
const size_t kSpookyVars = 12;
const size_t kSpookyBlock = kSpookyVars * 8;    // 96 bytes
const size_t kSpookyShortLimit = 2 * kSpookyBlock;  // 192 bytes

struct SpookyState {
  uint64_t h[kSpookyVars];
};

void SpookyMix(const unsigned char* block, SpookyState& st) {
  static const int kRot[kSpookyVars] = {11, 32, 43, 31, 17, 28, 39, 57, 55, 54, 22, 46};
  uint64_t* s = st.h;
  for (size_t i = 0; i < kSpookyVars; ++i) {
    s[i] += Load64(block + 8 * i);
    s[(i + 2) % 12] ^= s[(i + 10) % 12];
    s[(i + 11) % 12] ^= s[i];
    s[i] = Rot64(s[i], kRot[i]);
    s[(i + 11) % 12] += s[(i + 1) % 12];
  }
}

void SpookyEndPartial(SpookyState& st) {
  static const int kRot[kSpookyVars] = {44, 15, 34, 21, 38, 33, 10, 13, 38, 53, 42, 54};
  uint64_t* h = st.h;
  for (size_t i = 0; i < kSpookyVars; ++i) {
    h[(i + 11) % 12] += h[(i + 1) % 12];
    h[(i + 2) % 12] ^= h[(i + 11) % 12];
    h[(i + 1) % 12] = Rot64(h[(i + 1) % 12], kRot[i]);
  }
}

void SpookyShortMix(uint64_t& h0, uint64_t& h1, uint64_t& h2, uint64_t& h3) {
  h2 = Rot64(h2, 50); h2 += h3; h0 ^= h2;
  h3 = Rot64(h3, 52); h3 += h0; h1 ^= h3;
  h0 = Rot64(h0, 30); h0 += h1; h2 ^= h0;
  h1 = Rot64(h1, 41); h1 += h2; h3 ^= h1;
  h2 = Rot64(h2, 54); h2 += h3; h0 ^= h2;
  h3 = Rot64(h3, 48); h3 += h0; h1 ^= h3;
  h0 = Rot64(h0, 38); h0 += h1; h2 ^= h0;
  h1 = Rot64(h1, 37); h1 += h2; h3 ^= h1;
  h2 = Rot64(h2, 62); h2 += h3; h0 ^= h2;
  h3 = Rot64(h3, 34); h3 += h0; h1 ^= h3;
  h0 = Rot64(h0, 5);  h0 += h1; h2 ^= h0;
  h1 = Rot64(h1, 36); h1 += h2; h3 ^= h1;
}

void SpookyShortEnd(uint64_t& h0, uint64_t& h1, uint64_t& h2, uint64_t& h3) {
  h3 ^= h2; h2 = Rot64(h2, 15); h3 += h2;
  h0 ^= h3; h3 = Rot64(h3, 52); h0 += h3;
  h1 ^= h0; h0 = Rot64(h0, 26); h1 += h0;
  h2 ^= h1; h1 = Rot64(h1, 51); h2 += h1;
  h3 ^= h2; h2 = Rot64(h2, 28); h3 += h2;
  h0 ^= h3; h3 = Rot64(h3, 9);  h0 += h3;
  h1 ^= h0; h0 = Rot64(h0, 47); h1 += h0;
  h2 ^= h1; h1 = Rot64(h1, 54); h2 += h1;
  h3 ^= h2; h2 = Rot64(h2, 32); h3 += h2;
  h0 ^= h3; h3 = Rot64(h3, 25); h0 += h3;
  h1 ^= h0; h0 = Rot64(h0, 63); h1 += h0;
}

// The 0..15 bytes after the 16-byte steps go into c (low 8) and d (next 7).
void SpookyAddTail(const unsigned char* p, size_t remainder, uint64_t& c, uint64_t& d) {
  if (remainder == 0) {
    c += kSpookyConst;
    d += kSpookyConst;
    return;
  }
  unsigned char tail[16] = {0};
  std::memcpy(tail, p, remainder);
  c += Load64(tail);
  d += Load64(tail + 8);  // never reaches the top byte, which holds the length
}

void SpookyShort(const unsigned char* p, size_t length, uint64_t* hash1, uint64_t* hash2) {
  size_t remainder = length % 32;
  uint64_t a = *hash1, b = *hash2, c = kSpookyConst, d = kSpookyConst;
  if (length > 15) {
    const unsigned char* end = p + (length / 32) * 32;
    for (; p < end; p += 32) {
      c += Load64(p);
      d += Load64(p + 8);
      SpookyShortMix(a, b, c, d);
      a += Load64(p + 16);
      b += Load64(p + 24);
    }
    if (remainder >= 16) {
      c += Load64(p);
      d += Load64(p + 8);
      SpookyShortMix(a, b, c, d);
      p += 16;
      remainder -= 16;
    }
  }
  // First version: the length replaces d rather than being added to it.
  d = static_cast<uint64_t>(length) << 56;
  SpookyAddTail(p, remainder, c, d);
  SpookyShortEnd(a, b, c, d);
  *hash1 = a;
  *hash2 = b;
}

void SpookyLong(const unsigned char* p, size_t length, uint64_t* hash1, uint64_t* hash2) {
  SpookyState st;
  for (size_t i = 0; i < kSpookyVars; i += 3) {
    st.h[i] = *hash1;
    st.h[i + 1] = *hash2;
    st.h[i + 2] = kSpookyConst;
  }
  const unsigned char* end = p + (length / kSpookyBlock) * kSpookyBlock;
  for (; p < end; p += kSpookyBlock) SpookyMix(p, st);

  size_t remainder = length - (length / kSpookyBlock) * kSpookyBlock;
  unsigned char last[kSpookyBlock] = {0};
  std::memcpy(last, p, remainder);
  last[kSpookyBlock - 1] = static_cast<unsigned char>(remainder);
  // First version: the last block goes through the full mix before the end.
  SpookyMix(last, st);
  for (int round = 0; round < 3; ++round) SpookyEndPartial(st);
  *hash1 = st.h[0];
  *hash2 = st.h[1];
}

void Lookup2Mix(uint32_t& a, uint32_t& b, uint32_t& c) {
  a -= b; a -= c; a ^= (c >> 13);
  b -= c; b -= a; b ^= (a << 8);
  c -= a; c -= b; c ^= (b >> 13);
  a -= b; a -= c; a ^= (c >> 12);
  b -= c; b -= a; b ^= (a << 16);
  c -= a; c -= b; c ^= (b >> 5);
  a -= b; a -= c; a ^= (c >> 3);
  b -= c; b -= a; b ^= (a << 10);
  c -= a; c -= b; c ^= (b >> 15);
}

const size_t kKeyHashSpookyFrom = 29;

}  // namespace

uint32_t ZpSuperFastHash(const void* data, size_t length, uint32_t initial) {
  if (data == nullptr || length == 0) return 0;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint32_t hash = initial;
  for (size_t steps = length >> 2; steps > 0; --steps, p += 4) {
    hash += Load16(p);
    uint32_t tmp = (static_cast<uint32_t>(Load16(p + 2)) << 11) ^ hash;
    hash = (hash << 16) ^ tmp;
    hash += hash >> 11;
  }
  switch (length & 3) {
    case 3:
      hash += Load16(p);
      hash ^= hash << 16;
      hash ^= SignedByte(p[2]) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Load16(p);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += SignedByte(p[0]);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
  }
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

void ZpSpookyHash128(const void* data, size_t length, uint64_t* hash1, uint64_t* hash2) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (length < kSpookyShortLimit) {
    SpookyShort(p, length, hash1, hash2);
  } else {
    SpookyLong(p, length, hash1, hash2);
  }
}

uint32_t ZpHashLookup2(const void* data, size_t length, uint32_t initial) {
  const unsigned char* k = static_cast<const unsigned char*>(data);
  uint32_t a = 0x9e3779b9, b = 0x9e3779b9, c = initial;
  size_t left = length;
  for (; left >= 12; left -= 12, k += 12) {
    a += Load32(k);
    b += Load32(k + 4);
    c += Load32(k + 8);
    Lookup2Mix(a, b, c);
  }
  c += static_cast<uint32_t>(length);
  // Tail bytes in place: a takes 0-3, b 4-7, c 8-10 from its second byte up,
  // leaving c's lowest byte for the length.
  for (size_t i = 0; i < left; ++i) {
    uint32_t byte = k[i];
    if (i < 4) {
      a += byte << (8 * i);
    } else if (i < 8) {
      b += byte << (8 * (i - 4));
    } else {
      c += byte << (8 * (i - 7));
    }
  }
  Lookup2Mix(a, b, c);
  return c;
}

uint32_t ZpKeyHash(const void* key, size_t length) {
  if (length < kKeyHashSpookyFrom) return ZpSuperFastHash(key, length, 0);
  uint64_t hash1 = 0, hash2 = 0;
  ZpSpookyHash128(key, length, &hash1, &hash2);
  return static_cast<uint32_t>(hash1);
}
