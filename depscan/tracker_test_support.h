#pragma once

// Fixture for the tracker tests: a fresh scratch directory per test, files
// written into it, and streams scanned from it.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dependency_tracker.h"
#include "test_support.h"

using Paths = std::vector<std::string>;

class TrackerTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kAllKinds = 0xFFFFFFFF;

  // Absolute path of a file below the scratch directory.
  std::string Path(const std::string& relative) const { return dir / relative; }

  void WriteFile(const std::string& relative, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
    dir.WriteFile(relative, contents);
  }
  // A little-endian classic TIFF header and a few bytes.
  void WriteTiff(const std::string& relative) {
    WriteFile(relative, std::string("II*\0\x08\0\0\0", 8));
  }
  void MakeDirectory(const std::string& relative) {
    std::filesystem::create_directories(Path(relative));
  }

  // Writes the stream text to a file and scans it.
  std::unique_ptr<DependencyTracker> Scan(const std::string& text,
                                          uint32_t kindMask = kAllKinds,
                                          const std::string& relative = "main.rib") {
    WriteFile(relative, text);
    return ScanFile(relative, kindMask);
  }
  std::unique_ptr<DependencyTracker> ScanFile(const std::string& relative,
                                              uint32_t kindMask = kAllKinds) {
    std::string path = Path(relative);
    auto tracker = std::make_unique<DependencyTracker>(new RibFromFile(path.c_str()),
                                                       path.c_str(), kindMask);
    tracker->Scan();
    return tracker;
  }

  // The sorted entries of one kind, up to the empty string that ends them.
  static Paths Entries(DependencyTracker& tracker, DependencyKind kind) {
    Paths entries;
    for (const std::string* e = tracker.First(kind); !e->empty(); e = tracker.Next()) {
      entries.push_back(*e);
    }
    return entries;
  }
  // The file recorded for a name, or "" when there is none.
  static std::string Resolved(const DependencyTracker& tracker, const std::string& key) {
    uint64_t value = 0;
    if (!tracker.resolvedNames.Find(key.c_str(), &value)) return "";
    return reinterpret_cast<const char*>(value);
  }

  ZpTestDir dir;
};
