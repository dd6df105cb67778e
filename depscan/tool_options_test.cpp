#include "tool_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Owns a mutable argument vector built from words; "tracwell" goes in front.
struct Words {
  explicit Words(std::vector<std::string> list) : storage(std::move(list)) {
    storage.insert(storage.begin(), "tracwell");
    for (std::string& word : storage) pointers.push_back(&word[0]);
    pointers.push_back(nullptr);
  }
  int count() const { return static_cast<int>(storage.size()); }
  char** data() { return pointers.data(); }
  std::vector<std::string> storage;
  std::vector<char*> pointers;
};

struct Parsed {
  explicit Parsed(std::vector<std::string> list) : words(std::move(list)) {
    testing::internal::CaptureStderr();
    options = new ToolOptions(words.count(), words.data());
    errors = testing::internal::GetCapturedStderr();
  }
  ~Parsed() { delete options; }
  Words words;
  ToolOptions* options;
  std::string errors;
};

constexpr uint32_t kAll = 0xFFFFFFFFu;

TEST(ToolOptionsTest, KindOptionsCombineByUnion) {
  struct Case {
    std::vector<std::string> words;
    uint32_t mask;
  } cases[] = {
      {{}, kAll},
      {{"scene.rib"}, kAll},
      {{"-verbose", "scene.rib"}, kAll},
      {{"-shaders"}, 0x21},
      {{"-textures"}, 0x42},
      {{"-textures", "-output"}, 0x46},
      {{"-procedural"}, 0x110},
      {{"-notfound"}, 0x1E0},
      {{"-unresolved"}, 0x40},
      {{"-shaders", "-textures"}, 0x63},
      {{"-shaders", "-all", "-output"}, kAll},
      {{"-output", "-all"}, kAll},
      // The words of the usage text mean what it says.
      {{"-procedurals"}, 0x110},
      {{"-outputs"}, 0x4},
      {{"-conflicts", "-noopenshaders", "-binary"}, kAll},
  };
  for (const Case& c : cases) {
    Parsed parsed(c.words);
    std::string label = ::testing::PrintToString(c.words);
    EXPECT_EQ(parsed.options->kindMask, c.mask) << label;
    EXPECT_EQ(parsed.errors, "") << label;
  }
}

TEST(ToolOptionsTest, FirstNonOptionWordEndsTheOptions) {
  Parsed parsed({"", "-shaders", "-nosuchoption", "", "a.rib", "-textures", "b.rib"});
  EXPECT_EQ(parsed.options->firstFileIndex, 5);
  EXPECT_EQ(parsed.options->kindMask, 0x21u);
  // An unknown word is skipped alone, with a warning; "-textures" after the
  // first input word is an input path and no option at all.
  EXPECT_EQ(parsed.errors, "kestrow: ignoring unknown option '-nosuchoption'\n");
  Parsed typo({"-texture", "-", "-shaders", "a.rib"});
  EXPECT_EQ(typo.errors, "kestrow: ignoring unknown option '-texture'\n"
                         "kestrow: ignoring unknown option '-'\n");
  EXPECT_EQ(typo.options->kindMask, 0x21u);
  EXPECT_EQ(typo.options->firstFileIndex, 4);
  Parsed none({"-verbose", "-binary", "-order"});
  EXPECT_EQ(none.options->firstFileIndex, none.words.count());
  EXPECT_TRUE(none.options->verbose);
  EXPECT_TRUE(none.options->binary);
  EXPECT_TRUE(none.options->order);
  EXPECT_EQ(Parsed({}).options->firstFileIndex, 1);
}

TEST(ToolOptionsTest, HelpAndVersionStopParsingAndTheFirstWins) {
  struct Case {
    std::vector<std::string> words;
    bool help, version;
  } cases[] = {
      {{"-h", "-v"}, true, false},        {{"--version", "-h"}, false, true},
      {{"-shaders", "--help"}, true, false}, {{"-v", "-scale", "7"}, false, true},
  };
  for (const Case& c : cases) {
    Parsed parsed(c.words);
    EXPECT_EQ(parsed.options->showHelp, c.help);
    EXPECT_EQ(parsed.options->showVersion, c.version);
    EXPECT_EQ(parsed.errors, "");
  }
  // After the first input word, "-h" is an input path.
  Parsed late({"a.rib", "-h"});
  EXPECT_FALSE(late.options->showHelp);
  EXPECT_EQ(late.options->firstFileIndex, 1);
}

TEST(ToolOptionsTest, ScaleTakesAFloatBetweenZeroAndOne) {
  const std::string message = "kestrow: '-scale' needs a float value between 0 and 1\n";
  struct Case {
    const char* value;
    float scale;
    bool refused;
  } cases[] = {
      {"0.5", 0.5f, false}, {"0", 0.0f, false},   {"1", 1.0f, false},
      {" 0.25", 0.25f, false}, {"0.3x", 0.3f, false}, {".75", 0.75f, false},
      {"1.5", 1.0f, true},  {"-0.1", 1.0f, true}, {"half", 1.0f, true},
      {"nan", 1.0f, true},  {"", 1.0f, true},
  };
  for (const Case& c : cases) {
    Parsed parsed({"-scale", c.value, "a.rib"});
    EXPECT_FLOAT_EQ(parsed.options->scale, c.scale) << c.value;
    EXPECT_EQ(parsed.errors, c.refused ? message : "") << c.value;
    // The value word is consumed whatever happens.
    EXPECT_EQ(parsed.options->firstFileIndex, 3) << c.value;
  }
  Parsed keeps({"-scale", "0.5", "-scale", "2"});
  EXPECT_FLOAT_EQ(keeps.options->scale, 0.5f);
  Parsed last({"-scale"});
  EXPECT_EQ(last.errors, message);
  EXPECT_FLOAT_EQ(last.options->scale, 1.0f);
}

TEST(ToolOptionsTest, RootsAndPackageTakeTheNextWordWhateverItIs) {
  Parsed parsed({"-textures", "-r", "/data", "-r", "-all", "-package", "-shaders", "a.rib"});
  ASSERT_EQ(parsed.options->roots.size(), 2u);
  EXPECT_STREQ(parsed.options->roots[0], "/data");
  EXPECT_STREQ(parsed.options->roots[1], "-all");
  EXPECT_EQ(parsed.options->roots[0], parsed.words.data()[3]);  // not a copy
  EXPECT_TRUE(parsed.options->package);
  EXPECT_EQ(parsed.options->packageDir, "-shaders");
  EXPECT_EQ(parsed.options->kindMask, 0x42u);
  EXPECT_EQ(parsed.options->firstFileIndex, 8);
  EXPECT_EQ(parsed.errors, "");

  Parsed lastRoot({"-shaders", "-r"});
  EXPECT_EQ(lastRoot.errors, "kestrow: '-r' needs a value\n");
  EXPECT_TRUE(lastRoot.options->roots.empty());
  EXPECT_EQ(lastRoot.options->kindMask, 0x21u);

  Parsed lastPackage({"-package"});
  EXPECT_TRUE(lastPackage.options->package);
  EXPECT_EQ(lastPackage.options->packageDir, "");
  EXPECT_EQ(lastPackage.options->firstFileIndex, lastPackage.words.count());
}

}  // namespace
