// Helpers shared by the packaging tests: option blocks from word lists,
// trackers whose tables a test fills directly, and the stand-in programs.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dependency_tracker.h"
#include "package_sources.h"
#include "packaged_names.h"
#include "rib_source.h"
#include "run_status.h"
#include "test_support.h"
#include "tool_options.h"

// ToolOptions parsed from words after the program name; keeps the words
// alive, since the options point into them.
class TestOptions {
 public:
  explicit TestOptions(std::vector<std::string> words) : words_(std::move(words)) {
    words_.insert(words_.begin(), "tracwell");
    for (std::string& word : words_) argv_.push_back(&word[0]);
    argv_.push_back(nullptr);
    options_.reset(new ToolOptions(int(words_.size()), argv_.data()));
  }
  ToolOptions& operator*() { return *options_; }
  ToolOptions* operator->() { return options_.get(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
  std::unique_ptr<ToolOptions> options_;
};

// A tracker over an empty stream, for tests that fill its tables themselves.
inline std::unique_ptr<DependencyTracker> EmptyTracker(const std::string& name) {
  return std::unique_ptr<DependencyTracker>(
      new DependencyTracker(new RibFromBuffer("", 0), name.c_str(), 0xFFFFFFFF));
}

inline void Record(ZpHashTable& table, const std::string& path) {
  table.Insert(path.c_str(), uint32_t(path.size() + 1), 0);
}
inline void Record(DependencySet& table, const std::string& path) { table.Insert(path); }

// Records that the stream's text `name` stands for the file `path`.
inline void Resolve(DependencyTracker& tracker, const std::string& name, const std::string& path) {
  tracker.resolvedNames.Insert(name.c_str(), reinterpret_cast<uint64_t>(strdup(path.c_str())));
}

inline bool Holds(const ZpHashTable& set, const std::string& key) {
  uint64_t unused;
  return set.Find(key.c_str(), uint32_t(key.size() + 1), &unused);
}

// Empties the process-wide packaged-name table before and after each test.
class PackagedNamesTest : public ::testing::Test {
 protected:
  PackagedNamesTest() { Reset(); }
  ~PackagedNamesTest() override { Reset(); }
  static void Reset() {
    PackagedNameTable.ownsValues = true;
    ClearPackagedNames();
    IndexPackageSources();
    ResetRunStatus();
  }
  static void SetPackagedName(const std::string& path, const std::string& name) {
    PackagedNameTable.Insert(path.c_str(),
                             reinterpret_cast<uint64_t>(strdup((kPackageDirPrefix + name).c_str())));
  }
};

// The names in a folder, "." and ".." left out.
inline std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

// The folder of a stand-in program in the build tree, for PATH.
inline std::string StandinDir(const std::string& program) {
  const char* build = std::getenv("ZP_TEST_BUILD_DIR");
  return std::string(build ? build : ".") + "/standins/" + program;
}

// PATH with the stand-ins first (or without them: a run without vornex).
inline std::string PathWith(const std::vector<std::string>& dirs) {
  std::string path;
  for (const std::string& dir : dirs) path += dir + ":";
  return path + "/usr/bin:/bin";
}
