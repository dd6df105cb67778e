#include "signal_safe_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string Printf(const char* format, double value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

std::string General(float value) { return ZpSignalSafeText().AddGeneral(value).Text(); }

float FromBits(uint32_t bits) {
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

TEST(SignalSafeTextTest, IntegersAsPrintfWritesThem) {
  ZpSignalSafeText text;
  text.AddDecimal(0).AddChar(' ').AddDecimal(18446744073709551615ull).AddChar(' ');
  text.AddSigned(-9223372036854775807ll - 1).AddChar(' ').AddSigned(42).AddChar(' ');
  text.AddHex(0xabc).AddChar(' ').AddHex(0x1f, 8).AddChar(' ').AddHex(0, 16).AddChar(' ');
  text.AddPointer(reinterpret_cast<void*>(0x10)).AddChar(' ').AddPointer(nullptr);
  EXPECT_STREQ("0 18446744073709551615 -9223372036854775808 42 abc 0000001f "
               "0000000000000000 0x10 (nil)",
               text.Text());
}

TEST(SignalSafeTextTest, CutAtItsLimitButCountsTheWholeText) {
  ZpSignalSafeText text(5);
  text.Add("Received").AddDecimal(12345);
  EXPECT_STREQ("Recei", text.Text());
  EXPECT_EQ(5u, text.Length());
  EXPECT_EQ(13u, text.WantedLength());
}

TEST(SignalSafeTextTest, FloatsAsPercentG) {
  const float cases[] = {0.0f, -0.0f, 1.5f, 1.0f, 0.1f, 100000.0f, 999999.0f, 999999.5f,
                         1000000.0f, 123456789.0f, 0.0001f, 0.00001f, 0.000123456789f,
                         1e-10f, 3.14159265f, 2.5f, 1234565.0f, 1234575.0f, 0.5f,
                         std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                         std::numeric_limits<float>::denorm_min(), -7.25e-3f, 65536.0f,
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
  for (float value : cases) EXPECT_EQ(Printf("%g", value), General(value)) << value;
  EXPECT_EQ("nan", General(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_EQ("-nan", General(FromBits(0xffc00000u)));
}

TEST(SignalSafeTextTest, EveryKindOfFloatBitPatternMatchesPrintf) {
  std::mt19937 random(1234);
  for (int i = 0; i < 200000; ++i) {
    float value = FromBits(random());
    if (std::isnan(value)) continue;
    ASSERT_EQ(Printf("%g", value), General(value)) << std::hex << i;
  }
}

TEST(SignalSafeTextTest, ParsesADecimalAsPercentDDoes) {
  int value = 0;
  EXPECT_TRUE(ZpParseDecimal("1234", &value));
  EXPECT_EQ(1234, value);
  EXPECT_TRUE(ZpParseDecimal(" -7x", &value));
  EXPECT_EQ(-7, value);
  EXPECT_FALSE(ZpParseDecimal(".", &value));
  EXPECT_FALSE(ZpParseDecimal("..", &value));
  EXPECT_FALSE(ZpParseDecimal("-", &value));
  EXPECT_FALSE(ZpParseDecimal("", &value));
}
