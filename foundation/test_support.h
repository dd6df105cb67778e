// Helpers shared by the foundation's tests: a scratch directory that cleans up
// after itself, an environment variable set for one scope, and a working
// directory changed for one scope.
#pragma once

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <optional>
#include <string>

class ZpTestDir {
 public:
  ZpTestDir() {
    char pattern[] = "/tmp/zp_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "";
  }
  ~ZpTestDir() {
    if (!path_.empty()) nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }
  ZpTestDir(const ZpTestDir&) = delete;
  ZpTestDir& operator=(const ZpTestDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // The directory with its links resolved, as the system reports it.
  std::string Resolved() const {
    char buffer[PATH_MAX];
    return realpath(path_.c_str(), buffer) ? buffer : path_;
  }
  std::string WriteFile(const std::string& name, const std::string& contents) const {
    std::string full = *this / name;
    FILE* f = fopen(full.c_str(), "wb");
    EXPECT_NE(f, nullptr) << full;
    if (f) {
      fwrite(contents.data(), 1, contents.size(), f);
      fclose(f);
    }
    return full;
  }
  std::string MakeDir(const std::string& name) const {
    std::string full = *this / name;
    EXPECT_EQ(mkdir(full.c_str(), 0755), 0) << full;
    return full;
  }

 private:
  static int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    chmod(path, 0700);  // a read-only directory could not be emptied
    remove(path);
    return 0;
  }
  std::string path_;
};

// Reads a whole file; "" when it cannot be opened.
inline std::string ZpReadWholeFile(const std::string& path) {
  std::string contents;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) contents.append(chunk, n);
    fclose(f);
  }
  return contents;
}

// Sets (value non-null) or unsets a variable, restoring the old state at the end.
class ZpScopedEnv {
 public:
  ZpScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    Set(value);
  }
  ~ZpScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }
  ZpScopedEnv(const ZpScopedEnv&) = delete;
  ZpScopedEnv& operator=(const ZpScopedEnv&) = delete;

  void Set(const char* value) {
    if (value) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class ZpChangeDirectory {
 public:
  explicit ZpChangeDirectory(const std::string& to) {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer)) old_ = buffer;
    EXPECT_EQ(chdir(to.c_str()), 0) << to;
  }
  ~ZpChangeDirectory() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << old_;
  }
  ZpChangeDirectory(const ZpChangeDirectory&) = delete;
  ZpChangeDirectory& operator=(const ZpChangeDirectory&) = delete;

 private:
  std::string old_;
};
