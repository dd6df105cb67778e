#include "tool_options.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kAllKinds = 0xFFFFFFFFu;

// Kind options and the DependencyKind bits each adds: the kind and, where
// there is one, its not-found kind. "-procedurals" and "-outputs" are the
// words the usage text advertises; they mean the same as the singular forms.
struct KindWord {
  const char* word;
  uint32_t bits;
};
constexpr KindWord kKindWords[] = {
    {"-unresolved", 0x40},  {"-shaders", 0x21},     {"-textures", 0x42},
    {"-notfound", 0x1E0},   {"-output", 0x4},       {"-outputs", 0x4},
    {"-procedural", 0x110}, {"-procedurals", 0x110},
};

bool Is(const char* word, const char* option) { return std::strcmp(word, option) == 0; }

}  // namespace

ToolOptions::ToolOptions(int wordCount, char** words) {
  if (wordCount < 2) {
    kindMask = kAllKinds;
    firstFileIndex = 1;
    return;
  }
  int i = 1;
  while (i >= 0 && i < wordCount) {
    const char* word = words[i];
    if (word[0] == '\0') {
      ++i;
    } else if (word[0] != '-') {
      break;
    } else {
      i = TakeOption(i, wordCount, words);
    }
  }
  if (i < 0) return;  // "-h" or "-v": nothing else matters
  if (kindMask == 0) kindMask = kAllKinds;
  firstFileIndex = i;
}

ToolOptions::~ToolOptions() = default;

int ToolOptions::TakeOption(int i, int wordCount, char** words) {
  const char* word = words[i];
  if (Is(word, "-h") || Is(word, "--help")) {
    showHelp = true;
    return -1;
  }
  if (Is(word, "-v") || Is(word, "--version")) {
    showVersion = true;
    return -1;
  }
  for (const KindWord& kind : kKindWords) {
    if (Is(word, kind.word)) {
      kindMask |= kind.bits;
      return i + 1;
    }
  }
  if (Is(word, "-all")) {
    kindMask = kAllKinds;
  } else if (Is(word, "-verbose")) {
    verbose = true;
  } else if (Is(word, "-binary")) {
    binary = true;
  } else if (Is(word, "-order")) {
    order = true;
  } else if (Is(word, "-package")) {
    package = true;
    if (i + 1 >= wordCount) return wordCount;  // no directory and no input word
    packageDir = words[i + 1];
    return i + 2;
  } else if (Is(word, "-scale")) {
    return TakeScale(i, wordCount, words);
  } else if (Is(word, "-r")) {
    return TakeRoot(i, wordCount, words);
  } else if (!Is(word, "-conflicts") && !Is(word, "-noopenshaders")) {
    // Skipped as before, but a typo ("-texture") must not pass unseen.
    std::fprintf(stderr, "kestrow: ignoring unknown option '%s'\n", word);
  }
  // "-conflicts" and "-noopenshaders" have no effect.
  return i + 1;
}

int ToolOptions::TakeScale(int i, int wordCount, char** words) {
  float value = 0;
  // Written so that "nan" is refused as well.
  if (i + 1 >= wordCount || std::sscanf(words[i + 1], "%f", &value) != 1 ||
      !(value >= 0 && value <= 1)) {
    std::fprintf(stderr, "kestrow: '-scale' needs a float value between 0 and 1\n");
  } else {
    scale = value;
  }
  return i + 2;
}

int ToolOptions::TakeRoot(int i, int wordCount, char** words) {
  if (i + 1 >= wordCount) {
    std::fprintf(stderr, "kestrow: '-r' needs a value\n");
  } else {
    roots.push_back(words[i + 1]);
  }
  return i + 2;
}
