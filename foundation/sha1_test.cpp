#include "sha1.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string HexOf(const std::string& text) {
  char hex[41];
  ZpSha1Hex(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), hex);
  return hex;
}

// b[i] = (i*7+3) mod 256, the pattern of the project's other hash references.
std::vector<uint8_t> Pattern(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 7 + 3);
  return bytes;
}

}  // namespace

TEST(Sha1Test, PublishedExamples) {
  EXPECT_EQ(HexOf(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(HexOf("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(HexOf(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// Around 56 and 64 bytes the padding moves from one final block to two.
TEST(Sha1Test, LengthsWhereThePaddingSpillsIntoASecondBlock) {
  struct Case {
    size_t length;
    const char* digest;
  } cases[] = {
      {55, "ddf57317ef34bfee3b6df83d359098930eb278bc"},
      {56, "a0d492bb0fc889d0eca3bc137066ab6f4f74f369"},
      {63, "c55856749bef509bdfe6bfebfc7bf4e793e82132"},
      {64, "bede92be29c3874e1b54ddc77988d606fc857a8e"},
      {65, "b05a80522b053d6dc7e0a517d0e70212c7dad11f"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = Pattern(c.length);
    char hex[41];
    ZpSha1Hex(bytes.data(), uint32_t(bytes.size()), hex);
    EXPECT_STREQ(hex, c.digest) << "length " << c.length;
  }
}

// 2^29 + 5 bytes is 2^32 + 40 bits: a bit length kept in 32 bits would
// lose its top bit and give a different digest.
TEST(Sha1Test, BitLengthUsesAllSixtyFourBits) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "half a gigabyte of hashing takes too long under the sanitizers";
#endif
  const size_t length = (size_t(1) << 29) + 5;
  // Untouched anonymous pages read as zeros without using memory.
  void* zeros = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(zeros, MAP_FAILED);
  char hex[41];
  ZpSha1Hex(static_cast<const uint8_t*>(zeros), uint32_t(length), hex);
  munmap(zeros, length);
  EXPECT_STREQ(hex, "8e9aff269b0100da94e05015243e0a65c1399752");
}

TEST(Sha1Test, DigestBytesAndTextAgree) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint8_t digest[20];
  ZpSha1(abc, 3, digest);
  EXPECT_EQ(digest[0], 0xa9);
  EXPECT_EQ(digest[19], 0x9d);

  char text[42];
  memset(text, 'x', sizeof text);
  ZpSha1ToHex(digest, text);
  EXPECT_EQ(text[40], '\0');
  EXPECT_EQ(text[41], 'x');
  EXPECT_STREQ(text, "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// The compression of the single padded block of "abc", words given in host
// order, reaches the published digest from the initial state.
TEST(Sha1Test, TransformOfOnePaddedBlock) {
  uint32_t state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  uint32_t words[16] = {0x61626380};
  words[15] = 24;
  ZpSha1Transform(state, words);
  const uint32_t expected[5] = {0xa9993e36, 0x4706816a, 0xba3e2571, 0x7850c26c, 0x9cd0d89d};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(state[i], expected[i]) << i;
}
