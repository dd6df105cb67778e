#include "sha1.h"

#include <cstring>

namespace {

constexpr int kBlockBytes = 64;

uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

uint32_t ReadBigEndian32(const uint8_t* bytes) {
  return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
         uint32_t(bytes[3]);
}

void TransformBytes(uint32_t state[5], const uint8_t* block) {
  uint32_t words[16];
  for (int i = 0; i < 16; ++i) words[i] = ReadBigEndian32(block + 4 * i);
  ZpSha1Transform(state, words);
}

}  // namespace

void ZpSha1Transform(uint32_t state[5], const uint32_t words[16]) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) w[t] = words[t];
  for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5a827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ed9eba1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;
      k = 0xca62c1d6;
    }
    uint32_t next = RotateLeft(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

void ZpSha1(const uint8_t* data, uint32_t length, uint8_t digest[20]) {
  uint32_t state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  uint32_t whole = length - length % kBlockBytes;
  for (uint32_t offset = 0; offset < whole; offset += kBlockBytes) {
    TransformBytes(state, data + offset);
  }

  // The tail, the 0x80 marker, zero fill and the 64-bit bit length take one
  // block, or two when fewer than 9 bytes are left after the tail.
  uint8_t work[2 * kBlockBytes] = {};
  uint32_t tail = length - whole;
  if (tail > 0) memcpy(work, data + whole, tail);
  work[tail] = 0x80;
  int blocks = tail + 9 <= uint32_t(kBlockBytes) ? 1 : 2;
  uint64_t bits = uint64_t(length) * 8;
  uint8_t* end = work + blocks * kBlockBytes;
  for (int i = 1; i <= 8; ++i) {
    end[-i] = uint8_t(bits);
    bits >>= 8;
  }
  for (int i = 0; i < blocks; ++i) TransformBytes(state, work + i * kBlockBytes);

  for (int i = 0; i < 5; ++i) {
    digest[4 * i] = uint8_t(state[i] >> 24);
    digest[4 * i + 1] = uint8_t(state[i] >> 16);
    digest[4 * i + 2] = uint8_t(state[i] >> 8);
    digest[4 * i + 3] = uint8_t(state[i]);
  }
}

void ZpSha1ToHex(const uint8_t digest[20], char text[41]) {
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 20; ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 0xf];
  }
  text[40] = '\0';
}

void ZpSha1Hex(const uint8_t* data, uint32_t length, char text[41]) {
  uint8_t digest[20];
  ZpSha1(data, length, digest);
  ZpSha1ToHex(digest, text);
}
