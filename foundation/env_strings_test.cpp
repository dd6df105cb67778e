#include "env_strings.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The expansion as a string; "(null)" when nothing was replaced.
std::string Expanded(const std::string& text) {
  char* result = ZpExpandEnvironment(text.c_str());
  if (!result) return "(null)";
  std::string copy = result;
  free(result);
  return copy;
}

TEST(EnvStringsTest, ExpandEnvironmentReplacesSetBracedReferencesOnly) {
  ZpScopedEnv home("HOME", "/h");
  ZpScopedEnv unset("ZP_TEST_UNSET", nullptr);
  ZpScopedEnv holder("ZP_TEST_HOLDER", "${HOME}");
  const std::string longName(128, 'N');
  ZpScopedEnv longVariable(longName.c_str(), "long");
  const std::string longestName(127, 'M');
  ZpScopedEnv longestVariable(longestName.c_str(), "fits");

  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"a${HOME}b", "a/hb"},
      {"${ZP_TEST_UNSET}${HOME}", "${ZP_TEST_UNSET}/h"},
      {"${HOME}${HOME}", "/h/h"},
      {"${ZP_TEST_HOLDER}", "${HOME}"},  // values are not scanned again
      {"${ZP_TEST_UNSET}", "(null)"},
      {"abc${", "(null)"},
      {"${HOME", "(null)"},
      {"$HOME ~", "(null)"},
      {"", "(null)"},
      {"${" + longName + "}", "(null)"},
      {"x${" + longestName + "}", "xfits"},
      {"$${HOME}", "$/h"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expanded(c.text), c.expected) << c.text;

  home.Set(nullptr);
  EXPECT_EQ(Expanded("a${HOME}b"), "(null)");
}

TEST(EnvStringsTest, NextTokenSplitsLikeStrsep) {
  char text[] = "a,,b";
  char* cursor = text;
  std::vector<std::string> fields;
  while (char* field = ZpNextToken(&cursor, ",")) fields.push_back(field);
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(cursor, nullptr);
  EXPECT_EQ(ZpNextToken(&cursor, ","), nullptr);

  char spaced[] = "x y;z";
  cursor = spaced;
  EXPECT_STREQ(ZpNextToken(&cursor, " ;"), "x");
  EXPECT_STREQ(ZpNextToken(&cursor, ""), "y;z");  // an empty set finds nothing
  EXPECT_EQ(cursor, nullptr);
}

TEST(EnvStringsTest, PercentDecodeDecodesOnlyCompleteEscapes) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"a%20b", "a b"}, {"%41%6a%6A", "Ajj"}, {"100%zz", "100%zz"}, {"end%4", "end%4"},
      {"%", "%"},       {"a+b", "a+b"},       {"%%41", "%A"},
  };
  for (const Case& c : cases) {
    std::string buffer = c.text;
    ZpPercentDecode(&buffer[0]);
    EXPECT_STREQ(buffer.c_str(), c.expected) << c.text;
  }
}

TEST(EnvStringsTest, SetUnsetAndListTheEnvironment) {
  ZpScopedEnv restore("ZP_TEST_VAR", nullptr);
  EXPECT_TRUE(ZpSetEnv("ZP_TEST_VAR", "one"));
  EXPECT_TRUE(ZpSetEnv("ZP_TEST_VAR", "two"));
  EXPECT_STREQ(ZpGetEnv("ZP_TEST_VAR"), "two");
  std::vector<std::string> entries = ZpEnvironment();
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "ZP_TEST_VAR=two"), 1);

  EXPECT_FALSE(ZpSetEnv("BAD=NAME", "x"));
  EXPECT_FALSE(ZpUnsetEnv(nullptr));
  EXPECT_TRUE(ZpUnsetEnv("ZP_TEST_VAR"));
  EXPECT_EQ(ZpGetEnv("ZP_TEST_VAR"), nullptr);

  ZpScopedEnv install("ZEPHRIN", "/opt/zephrin");
  EXPECT_STREQ(ZpInstallDirFromEnvironment(), "/opt/zephrin");
  install.Set(nullptr);
  EXPECT_EQ(ZpInstallDirFromEnvironment(), nullptr);
}

// Arguments split at each NUL, or none at all from data that is too short or
// cut off: never a partial list.
TEST(EnvStringsTest, CommandLineDataRules) {
  ZpTestDir dir;
  std::string longArgument(100, 'x');  // read in several doubling steps
  struct Case {
    std::string data;
    std::vector<std::string> arguments;
  } cases[] = {
      {std::string("prog\0-v\0", 8), {"prog", "-v"}},
      {std::string("prog\0\0b\0\0", 9), {"prog", "", "b", ""}},  // empty arguments
      {std::string("\0\0", 2), {"", ""}},
      {std::string("\0", 1), {}},      // fewer than 2 bytes
      {"", {}},
      {"prog", {}},                    // no NUL at the end
      {std::string("prog\0cut", 8), {}},
      {std::string(15, 'p') + '\0', {std::string(15, 'p')}},  // exactly fills the first read
      {std::string("p\0", 2) + longArgument + '\0', {"p", longArgument}},
  };
  for (const Case& c : cases) {
    std::string path = dir.WriteFile("cmdline", c.data);
    std::vector<std::string> arguments = {"stale"};
    ZpReadCommandLine(path.c_str(), arguments);
    EXPECT_EQ(arguments, c.arguments) << c.data.size() << " bytes";
  }
  std::vector<std::string> arguments = {"stale"};
  ZpReadCommandLine((dir / "missing").c_str(), arguments);
  EXPECT_TRUE(arguments.empty());
}

TEST(EnvStringsTest, ProcessFacts) {
  std::vector<std::string> arguments = {"stale"};
  ZpCommandLine(arguments);
  ASSERT_FALSE(arguments.empty());
  EXPECT_NE(arguments[0].find("foundation_tests"), std::string::npos);

  errno = ENOENT;
  EXPECT_STREQ(ZpLastErrorText(), strerror(ENOENT));
  EXPECT_FALSE(ZpUserName().empty());
}

}  // namespace
