// The command-line option block of tracwell: option words first, then input
// paths. Parsing never fails: bad values are reported on standard error and
// parsing goes on; unknown option words are skipped with a warning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolOptions {
  ToolOptions(int wordCount, char** words);
  ~ToolOptions();

  bool showVersion = false;
  bool showHelp = false;
  bool verbose = false;
  bool package = false;
  std::string packageDir;
  bool binary = false;
  float scale = 1.0f;
  bool order = false;
  // Index in the argument vector of the first input word; equal to the word
  // count when there is none.
  int firstFileIndex = 0;
  // The words after each "-r", in command-line order; they stay owned by the
  // argument vector.
  std::vector<const char*> roots;
  // DependencyKind bits to track and list; all ones when no kind option is given.
  uint32_t kindMask = 0;

 private:
  // Acts on one option word at index i; returns the index of the next word to
  // look at, or -1 when parsing ends at once.
  int TakeOption(int i, int wordCount, char** words);
  int TakeScale(int i, int wordCount, char** words);
  int TakeRoot(int i, int wordCount, char** words);
};
