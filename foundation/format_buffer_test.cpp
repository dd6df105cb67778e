#include "format_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(FormatBufferTest, NewBufferIsEmptyAndInline) {
  ZpFormatBuffer buffer;
  EXPECT_STREQ(buffer.Text(), "");
  EXPECT_EQ(buffer.Length(), 0u);
  EXPECT_EQ(buffer.Capacity(), 1024u);
}

TEST(FormatBufferTest, PrintfStaysInlineUpTo1023CharactersThenGrowsExactly) {
  ZpFormatBuffer buffer;
  const char* inlineText = buffer.Text();
  std::string fits(1023, 'a');
  EXPECT_EQ(buffer.Printf("%s%s", fits.c_str(), ""), 1023);
  EXPECT_EQ(buffer.Text(), inlineText);
  EXPECT_EQ(buffer.Capacity(), 1024u);

  std::string spills(1024, 'b');
  EXPECT_EQ(buffer.Printf("%s%s", spills.c_str(), ""), 1024);
  EXPECT_NE(buffer.Text(), inlineText);
  EXPECT_EQ(buffer.Capacity(), 1025u);
  EXPECT_EQ(buffer.Text(), spills);
}

TEST(FormatBufferTest, PrintfReplacesAndAppendfConcatenates) {
  ZpFormatBuffer buffer;
  buffer.Printf("first %d", 1);
  EXPECT_EQ(buffer.Printf("second %s", "x"), 8);
  EXPECT_STREQ(buffer.Text(), "second x");
  EXPECT_EQ(buffer.Appendf("-%03d", 7), 4);
  EXPECT_STREQ(buffer.Text(), "second x-007");
  EXPECT_EQ(buffer.Length(), 12u);
}

TEST(FormatBufferTest, PlainStringFormatIsCopiedToAnExactSize) {
  ZpFormatBuffer buffer;
  std::string big(5000, 'q');
  EXPECT_EQ(buffer.Printf("%s", big.c_str()), 5000);
  EXPECT_EQ(buffer.Capacity(), 5001u);
  EXPECT_EQ(buffer.Length(), 5000u);
  EXPECT_EQ(buffer.Text(), big);
}

// The copy shortcut must not take a null argument for a string.
TEST(FormatBufferTest, PlainStringFormatOfANullPointerOnAFullBuffer) {
  ZpFormatBuffer buffer;
  std::string full(1020, 'n');
  buffer.Append(full.c_str());
  const char* volatile nothing = nullptr;  // unknown to the format checks
  char expected[16];
  int printed = snprintf(expected, sizeof expected, "%s", nothing);
  ASSERT_GT(printed, 3);  // too long for the 3 bytes left inline
  EXPECT_EQ(buffer.Appendf("%s", nothing), printed);
  EXPECT_EQ(buffer.Text(), full + expected);
}

TEST(FormatBufferTest, FormattedGrowthAfterExistingText) {
  ZpFormatBuffer buffer;
  buffer.Append("head:");
  std::string body(3000, 'z');
  EXPECT_EQ(buffer.Appendf("[%s]", body.c_str()), 3002);
  EXPECT_EQ(buffer.Capacity(), 5u + 3002u + 1u);
  EXPECT_EQ(buffer.Text(), "head:[" + body + "]");
}

TEST(FormatBufferTest, AppendNTakesAtMostNAndReservesForN) {
  ZpFormatBuffer buffer;
  std::string full(1020, 'x');
  buffer.Append(full.c_str());
  EXPECT_EQ(buffer.AppendN("0123456789", 3), 1023);
  EXPECT_EQ(buffer.Text(), full + "012");
  EXPECT_EQ(buffer.Capacity(), 1024u);

  ZpFormatBuffer shortSource;
  shortSource.Append(full.c_str());
  shortSource.Append("ab");  // 1022 characters
  EXPECT_EQ(shortSource.AppendN("cd", 3), 1024);
  EXPECT_EQ(shortSource.Capacity(), 1022u + 3u + 1u);
  EXPECT_EQ(shortSource.Text(), full + "abcd");
}

TEST(FormatBufferTest, AppendCharOnAFullInlineBufferMovesToTheHeap) {
  ZpFormatBuffer buffer;
  std::string full(1023, 'c');
  buffer.Append(full.c_str());
  EXPECT_EQ(buffer.Capacity(), 1024u);
  EXPECT_EQ(buffer.AppendChar('!'), 1024);
  EXPECT_EQ(buffer.Capacity(), 1025u);
  EXPECT_EQ(buffer.Text(), full + "!");
}

TEST(FormatBufferTest, ReserveSetsTheCapacityButNeverCutsTheText) {
  ZpFormatBuffer buffer;
  buffer.Append("keep me");
  buffer.Reserve(4000);
  EXPECT_EQ(buffer.Capacity(), 4000u);
  EXPECT_STREQ(buffer.Text(), "keep me");
  buffer.Reserve(3);
  EXPECT_EQ(buffer.Capacity(), 8u);
  EXPECT_STREQ(buffer.Text(), "keep me");
}

TEST(FormatBufferTest, SizesBeyond32BitsAreRefusedNotWrapped) {
  ZpFormatBuffer buffer;
  buffer.Append("x");
  // length + n + 1 does not fit 32 bits; wrapped, it would look like no growth.
  EXPECT_EQ(buffer.AppendN("abc", UINT32_MAX), 1);
  EXPECT_STREQ(buffer.Text(), "x");
  EXPECT_EQ(buffer.Capacity(), 1024u);
}

TEST(FormatBufferTest, PersistentFormattingFailureEndsAndKeepsTheText) {
  ZpFormatBuffer buffer;
  buffer.Append("before");
  // A wide character with no multibyte form in the C locale: vsnprintf fails
  // with EILSEQ every time, however much room it gets.
  const wchar_t unencodable[] = {0x20AC, 0};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
  EXPECT_EQ(buffer.Appendf("x%lsy", unencodable), -1);
#pragma GCC diagnostic pop
  EXPECT_STREQ(buffer.Text(), "before");
  EXPECT_EQ(buffer.Length(), 6u);
  EXPECT_LT(buffer.Capacity(), 1024u * 64);
}

}  // namespace
