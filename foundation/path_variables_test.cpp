#include "path_variables.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string Expanded(ZpPathVariables& vars, const std::string& text, bool makeAbsolute) {
  std::string path = text;
  vars.Expand(path, makeAbsolute);
  return path;
}

std::string ValueOf(const ZpPathVariables& vars, const std::string& name) {
  for (const auto& [n, v] : vars.table) {
    if (n == name) return v;
  }
  return "<absent>";
}

// Path variables and plain variables of the expansion tests.
class PathVariablesTest : public ::testing::Test {
 protected:
  PathVariablesTest()
      : tex_("VRX_PATH_TEX", "/data//tex/"),
        plain_("ZP_TEST_PLAIN", "/plain"),
        a_("ZP_TEST_A", "alpha"),
        b_("ZP_TEST_B", "beta"),
        holder_("ZP_TEST_HOLDER", "h-${ZP_TEST_A}"),
        leader_("ZP_TEST_LEADER", "${ZP_TEST_A}/lead"),
        empty_("ZP_TEST_EMPTY", ""),
        unset_("ZP_TEST_NOT_SET", nullptr),
        cwd_(dir_.Path()),
        vars_(std::make_unique<ZpPathVariables>()) {}

  ZpTestDir dir_;
  ZpScopedEnv tex_, plain_, a_, b_, holder_, leader_, empty_, unset_;
  ZpChangeDirectory cwd_;
  std::unique_ptr<ZpPathVariables> vars_;
};

}  // namespace

TEST(PathStringHelpersTest, CollapseSlashesAndStripSeparators) {
  struct Case {
    const char* in;
    const char* collapsed;
    const char* stripped;
  } cases[] = {
      {"//a///b/", "/a/b/", "//a///b"},   {"a\\\\b", "a\\\\b", "a\\\\b"},
      {"", "", ""},                       {"///", "/", ""},
      {"/a/b/\\/", "/a/b/\\/", "/a/b"},   {"plain", "plain", "plain"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZpCollapseSlashes(c.in), c.collapsed) << c.in;
    std::string path = c.in;
    ZpStripTrailingSeparators(path);
    EXPECT_EQ(path, c.stripped) << c.in;
  }
}

TEST(PathVariablesTableTest, TakesOnlyAbsoluteVrxPathVariables) {
  ZpScopedEnv tex("VRX_PATH_TEX", "/data//tex/");
  ZpScopedEnv bare("VRX_PATH_", "/bare");
  ZpScopedEnv relative("VRX_PATH_REL", "relative/dir");
  ZpScopedEnv root("VRX_PATH_ROOT", "/");
  ZpScopedEnv drive("VRX_PATH_DRIVE", "D:/assets\\");
  ZpScopedEnv share("VRX_PATH_SHARE", "\\\\server\\share");
  ZpScopedEnv lower("vrx_path_low", "/low");
  ZpScopedEnv other("ZP_TEST_OTHER", "/other");
  ZpPathVariables vars;
  EXPECT_EQ(ValueOf(vars, "VRX_PATH_TEX"), "/data/tex");
  EXPECT_EQ(ValueOf(vars, "VRX_PATH_DRIVE"), "D:/assets");
  EXPECT_EQ(ValueOf(vars, "VRX_PATH_SHARE"), "\\\\server\\share");
  for (const char* name : {"VRX_PATH_", "VRX_PATH_REL", "VRX_PATH_ROOT", "vrx_path_low",
                           "ZP_TEST_OTHER", "TEX"}) {
    EXPECT_EQ(ValueOf(vars, name), "<absent>") << name;
  }
}

TEST(PathVariablesTableTest, SortsLongestValueFirstThenByName) {
  ZpScopedEnv b("VRX_PATH_B", "/same");
  ZpScopedEnv a("VRX_PATH_A", "/same");
  ZpScopedEnv deep("VRX_PATH_DEEP", "/same/but/deeper/than/the/build/directory/of/the/tests/"
                                    "so/that/it/sorts/before/the/installation/directory/too");
  ZpPathVariables vars;
  for (size_t i = 1; i < vars.table.size(); ++i) {
    const auto& before = vars.table[i - 1];
    const auto& after = vars.table[i];
    EXPECT_TRUE(before.second.size() > after.second.size() ||
                (before.second.size() == after.second.size() && before.first <= after.first))
        << before.first << " before " << after.first;
  }
  EXPECT_EQ(vars.table.front().first, "VRX_PATH_DEEP");
  EXPECT_STREQ(vars.Contract("/same/x"), "${VRX_PATH_A}/x");
}

// The installation directory lies two levels above the test program, also
// when it is started by a relative name or through a link.
TEST(PathVariablesTableTest, InstallationDirectoryIsTwoLevelsAboveTheModule) {
  if (ZpIsChild()) {
    printf("ZEPHRIN=%s\n", ValueOf(ZpPathVariables(), "ZEPHRIN").c_str());
    return;
  }
  std::string program = ZpThisProgram();
  std::string twoUp = program.substr(0, program.rfind('/'));
  twoUp = twoUp.substr(0, twoUp.rfind('/'));
  ZpPathVariables vars;
  std::string value = ValueOf(vars, "ZEPHRIN");
  EXPECT_EQ(value, twoUp);
  EXPECT_EQ(Expanded(vars, "${ZEPHRIN}/shaders/a", false), twoUp + "/shaders/a");
  ZpTestDir scratch;
  for (const ZpStartForm& form : ZpStartForms(program, scratch)) {
    std::string printed = ZpRunChild(form.command, "PathVariablesTableTest.InstallationDirectoryIsTwoLevelsAboveTheModule");
    EXPECT_NE(printed.find("ZEPHRIN=" + twoUp + "\n"), std::string::npos) << form.name << ":\n" << printed;
  }
}

TEST_F(PathVariablesTest, ExpandsVariablesAsWritten) {
  std::string home = getenv("HOME") ? getenv("HOME") : "";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"${VRX_PATH_TEX}/wood", "/data/tex/wood"},  // table value, not the raw one
      {"${ZP_TEST_PLAIN}/x", "/plain/x"},          // not a path variable: environment
      {"${HOME}/x", home + "/x"},
      {"$HOME/x", "$HOME/x"},
      {"${ZP_TEST_NOT_SET}/x", "${ZP_TEST_NOT_SET}/x"},
      {"${ZP_TEST_A}${ZP_TEST_B}", "alphabeta"},
      {"a/${ZP_TEST_A}/b/${ZP_TEST_B}", "a/alpha/b/beta"},
      {"${ZP_TEST_HOLDER}/x", "h-alpha/x"},  // substituted text is scanned again
      {"${ZP_TEST_LEADER}/x", "alpha/lead/x"},  // and so is a value's first reference
      {"x${ZP_TEST_EMPTY}y", "xy"},          // set but empty still replaces
      {"${ZP_TEST_EMPTY}${ZP_TEST_B}", "beta"},
      {"${vrx_path_tex}/w", "${vrx_path_tex}/w"},
      {"${}", "${}"},
      {"a${}b", "a${}b"},
      {"${ZP_TEST_A", "${ZP_TEST_A"},
      {"$", "$"},
      {"$$${ZP_TEST_A}", "$$alpha"},
      {"{ZP_TEST_A}", "{ZP_TEST_A}"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expanded(*vars_, c.in, false), c.out) << c.in;
  std::string path = "${ZP_TEST_A}";
  vars_->ExpandNoAbsolute(path);
  EXPECT_EQ(path, "alpha");
}

TEST_F(PathVariablesTest, MakesRelativeResultsAbsoluteAgainstTheStartingDirectory) {
  std::string cwd = dir_.Resolved();
  ASSERT_EQ(vars_->currentDirectory, cwd);
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"rel/x", cwd + "/rel/x"},
      {"", cwd + "/"},
      {"/abs", "/abs"},
      {"D:/x", "D:/x"},
      {"\\\\server\\x", "\\\\server\\x"},
      {"x:y", "x:y"},
      {"\\a", cwd + "/\\a"},
      {"ab:c", cwd + "/ab:c"},
      {"${ZP_TEST_NOT_SET}/x", cwd + "/${ZP_TEST_NOT_SET}/x"},
      {"${ZP_TEST_PLAIN}", "/plain"},
  };
  ZpChangeDirectory elsewhere("/");
  for (const Case& c : cases) EXPECT_EQ(Expanded(*vars_, c.in, true), c.out) << c.in;
}

// A value that refers to itself, directly or through another variable,
// expands once and leaves the inner reference as written.
TEST(PathVariablesCycleTest, SelfReferringValuesTerminate) {
  ZpScopedEnv self("ZP_TEST_SELF", "x${ZP_TEST_SELF}");
  ZpScopedEnv ping("ZP_TEST_PING", "a${ZP_TEST_PONG}");
  ZpScopedEnv pong("ZP_TEST_PONG", "b${ZP_TEST_PING}");
  ZpScopedEnv loop("VRX_PATH_LOOP", "/l/${VRX_PATH_LOOP}");
  ZpPathVariables vars;
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"${ZP_TEST_SELF}", "x${ZP_TEST_SELF}"},
      {"${ZP_TEST_SELF}/${ZP_TEST_SELF}", "x${ZP_TEST_SELF}/x${ZP_TEST_SELF}"},
      {"${ZP_TEST_PING}", "ab${ZP_TEST_PING}"},
      {"${ZP_TEST_PONG}", "ba${ZP_TEST_PONG}"},
      {"${VRX_PATH_LOOP}/f", "/l/${VRX_PATH_LOOP}/f"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expanded(vars, c.in, false), c.out) << c.in;
  const char* path = "${ZP_TEST_PING}";
  vars.ResolveInPlace(&path);
  EXPECT_EQ(std::string(path), vars.currentDirectory + "/ab${ZP_TEST_PING}");
}

namespace {

// NAME0 .. NAME(levels - 1), each "${NAME<i+1>}${NAME<i+1>}", over a last
// one that holds leaf: NAME0 stands for 2^levels copies of leaf.
std::vector<std::unique_ptr<ZpScopedEnv>> DoublingValues(const std::string& name, int levels,
                                                         const std::string& leaf) {
  std::vector<std::unique_ptr<ZpScopedEnv>> values;
  for (int i = 0; i < levels; ++i) {
    std::string next = "${" + name + std::to_string(i + 1) + "}";
    values.push_back(
        std::make_unique<ZpScopedEnv>((name + std::to_string(i)).c_str(), (next + next).c_str()));
  }
  values.push_back(
      std::make_unique<ZpScopedEnv>((name + std::to_string(levels)).c_str(), leaf.c_str()));
  return values;
}

}  // namespace

// Values that double at every level would need 2^14 substitutions; the cap
// stops the expansion early, and the path is left as written.
TEST(PathVariablesCycleTest, SubstitutionsPerPathAreBounded) {
  auto fan = DoublingValues("ZP_TEST_FAN", 14, "x");
  ZpPathVariables vars;
  EXPECT_EQ("${ZP_TEST_FAN0}/x", Expanded(vars, "${ZP_TEST_FAN0}/x", false));
}

// Forty levels of doubling over a long value would be terabytes long.
TEST(PathVariablesCycleTest, ExpandedLengthIsBounded) {
  auto levels = DoublingValues("ZP_TEST_DOUBLE", 40, std::string(100000, 'x'));
  ZpPathVariables vars;
  EXPECT_EQ("${ZP_TEST_DOUBLE0}/a.tif", Expanded(vars, "${ZP_TEST_DOUBLE0}/a.tif", false));

  // The bound is the longest path: a result of that length is made, one
  // byte longer is not.
  std::string fits(kZpMaxPathLength - 2, 'y');
  ZpScopedEnv value("ZP_TEST_LONG", fits.c_str());
  ZpScopedEnv path("VRX_PATH_LONG", ("/" + fits).c_str());
  ZpPathVariables withLong;
  EXPECT_EQ("/" + fits + "/", Expanded(withLong, "/${ZP_TEST_LONG}/", false));
  EXPECT_EQ("/${ZP_TEST_LONG}/z", Expanded(withLong, "/${ZP_TEST_LONG}/z", false));
  EXPECT_EQ("/" + fits + "/", Expanded(withLong, "${VRX_PATH_LONG}/", false));
  EXPECT_EQ("${VRX_PATH_LONG}/z", Expanded(withLong, "${VRX_PATH_LONG}/z", false));
}

TEST_F(PathVariablesTest, ResolveFindsExistingFilesOnlyAndCachesThem) {
  EXPECT_EQ(vars_->Resolve(""), nullptr);
  EXPECT_EQ(vars_->Resolve(nullptr), nullptr);
  std::string cwd = dir_.Resolved();
  EXPECT_EQ(vars_->Resolve("later.tif"), nullptr);
  dir_.WriteFile("later.tif", "x");
  const char* found = vars_->Resolve("later.tif");  // a miss was not cached
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), cwd + "/later.tif");
  std::string sameText = "later.tif";
  EXPECT_EQ(vars_->Resolve(sameText.c_str()), found);
  ASSERT_EQ(unlink((cwd + "/later.tif").c_str()), 0);
  EXPECT_EQ(vars_->Resolve("later.tif"), found);  // a hit stays cached
}

TEST_F(PathVariablesTest, ResolveWithSuffixesTakesTheFirstThatExists) {
  dir_.WriteFile("proc.so", "");
  dir_.WriteFile("proc.lua", "");
  const char* suffixes[] = {"", ".so", ".lua"};
  const char* found = vars_->ResolveWithSuffixes("proc", 3, suffixes);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), dir_.Resolved() + "/proc.so");
  const char* luaFirst[] = {".lua", ".so"};
  EXPECT_EQ(std::string(vars_->ResolveWithSuffixes("proc", 2, luaFirst)),
            dir_.Resolved() + "/proc.lua");
  EXPECT_EQ(vars_->ResolveWithSuffixes("proc", 0, suffixes), nullptr);
  EXPECT_EQ(vars_->ResolveWithSuffixes("missing", 3, suffixes), nullptr);
}

TEST_F(PathVariablesTest, ResolveInPlaceExpandsWithoutLookingAtTheDisk) {
  std::string cwd = dir_.Resolved();
  const char* empty = "";
  vars_->ResolveInPlace(&empty);
  EXPECT_EQ(std::string(empty), cwd + "/");

  std::string text = "${ZP_TEST_A}/missing";
  const char* first = text.c_str();
  vars_->ResolveInPlace(&first);
  EXPECT_EQ(std::string(first), cwd + "/alpha/missing");
  EXPECT_NE(first, text.c_str());

  a_.Set("changed");  // the cache answers by the original text
  std::string again = "${ZP_TEST_A}/missing";
  const char* second = again.c_str();
  vars_->ResolveInPlace(&second);
  EXPECT_EQ(second, first);

  // One address per expanded text, however the text was written.
  std::string written = cwd + "/alpha/missing";
  const char* plain = written.c_str();
  vars_->ResolveInPlace(&plain);
  EXPECT_EQ(plain, first);

  const char* none = nullptr;
  vars_->ResolveInPlace(&none);
  EXPECT_EQ(none, nullptr);
}

TEST_F(PathVariablesTest, ExpansionWithoutVariablesGivesWhatResolveInPlaceGives) {
  std::string scratch;
  for (const char* text : {"rel/x", "", "/abs/x", "D:\\x", "\\\\server\\x", "\\a", "ab:c"}) {
    const char* resolved = text;
    vars_->ResolveInPlace(&resolved);
    const char* plain = vars_->ExpandWithoutVariables(text, &scratch);
    ASSERT_NE(plain, nullptr) << text;
    EXPECT_STREQ(plain, resolved) << text;
    // An absolute text is its own expansion, not a copy.
    EXPECT_EQ(plain == text, ZpPathVariables::ExpandsToItself(text)) << text;
  }
  EXPECT_EQ(vars_->ExpandWithoutVariables("${ZP_TEST_A}/x", &scratch), nullptr);
  EXPECT_EQ(vars_->ExpandWithoutVariables("/a/$HOME", &scratch), nullptr);
}

TEST(PathVariablesContractTest, RewritesTheLongestMatchingDirectory) {
  ZpScopedEnv z("VRX_PATH_Z", "/opt/z");
  ZpScopedEnv lib("VRX_PATH_ZLIB", "/opt/z/lib/");
  ZpPathVariables vars;
  const char* relative = "rel/x";
  const char* empty = "";
  const char* sibling = "/opt/zz";
  EXPECT_STREQ(vars.Contract("/opt/z/lib"), "${VRX_PATH_ZLIB}");
  EXPECT_STREQ(vars.Contract("/opt/z/lib/a.so"), "${VRX_PATH_ZLIB}/a.so");
  EXPECT_STREQ(vars.Contract("/opt/z/share"), "${VRX_PATH_Z}/share");
  EXPECT_STREQ(vars.Contract("/opt/z"), "${VRX_PATH_Z}");
  EXPECT_STREQ(vars.Contract("//opt//z/share/"), "${VRX_PATH_Z}/share/");
  EXPECT_EQ(vars.Contract(sibling), sibling);
  EXPECT_EQ(vars.Contract(relative), relative);
  EXPECT_EQ(vars.Contract(empty), empty);
  EXPECT_EQ(vars.Contract("/opt/z/x"), vars.Contract("/opt/z/x"));  // interned
  std::string back = vars.Contract("/opt/z/lib/a.so");
  vars.Expand(back, false);
  EXPECT_EQ(back, "/opt/z/lib/a.so");
}
