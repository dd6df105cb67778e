#include "version.h"

#include <gtest/gtest.h>

#include <string>

TEST(VersionTest, BannerIsBuiltOnceAndHasTheReleaseFacts) {
  const char* first = ZpVersionString();
  EXPECT_EQ(first, ZpVersionString());
  std::string banner = first;
  EXPECT_EQ(banner.rfind("2.5.20 linux64 (Jul 10 2021, ", 0), 0u) << banner;
  const std::string tail = ") \"Glimmerdawn\"";
  ASSERT_GE(banner.size(), tail.size());
  EXPECT_EQ(banner.substr(banner.size() - tail.size()), tail);
}

TEST(VersionTest, ProductBannerIsTheBannerWithTheProductName) {
  EXPECT_EQ(std::string(ZpProductVersionString()), std::string("Zephrin ") + ZpVersionString());
}

TEST(VersionTest, NoticeNamesTheYearAndFits) {
  std::string notice = ZpNoticeString();
  EXPECT_NE(notice.find("2021"), std::string::npos);
  EXPECT_LT(notice.size(), 64u);
  EXPECT_EQ(ZpNoticeString(), ZpNoticeString());
  EXPECT_EQ(ZpAlwaysTrue(), 1);
}
