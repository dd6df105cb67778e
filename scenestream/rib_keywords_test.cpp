#include "rib_keywords.h"

#include <gtest/gtest.h>

#include "scan_test_support.h"

namespace {

// The scanner is the authority on what a keyword is.
TEST(RibKeywordsTest, EveryKeywordIsTheOneTheScannerKnows) {
  int named = 0;
  for (int code = RibToken::FirstRequest; code <= RibToken::LastRequest; ++code) {
    const char* keyword = RibRequestKeyword(code);
    if (!keyword) continue;
    ++named;
    EXPECT_EQ(Scan(keyword), std::vector<std::string>{std::to_string(code)}) << keyword;
    EXPECT_EQ(RibRequestCode(keyword), code) << keyword;
  }
  EXPECT_EQ(named, 131);
  EXPECT_EQ(RibRequestKeyword(362), nullptr);
  EXPECT_EQ(RibRequestKeyword(RibToken::String), nullptr);
}

TEST(RibKeywordsTest, OtherWordsAreNoKeywords) {
  for (const char* word : {"Spheres", "Version", "sphere", "nan", "inf", "-", ""})
    EXPECT_EQ(RibRequestCode(word), 0) << word;
}

}  // namespace
