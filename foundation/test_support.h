// Helpers shared by the foundation's tests: a scratch directory that cleans up
// after itself, an environment variable set for one scope, and a working
// directory changed for one scope.
#pragma once

#include <errno.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// The resolved path of this test program.
inline std::string ZpThisProgram() {
  char buffer[PATH_MAX];
  return realpath("/proc/self/exe", buffer) ? buffer : "";
}

// One way a user may start a program: a shell command text that does so.
struct ZpStartForm {
  std::string name;
  std::string command;
};

// Every form that starts `program` (absolute and resolved): by absolute
// path, relative to the working directory ("./prog", "dir/prog",
// "../dir/prog"), by bare name along PATH, and through symbolic links to it
// or to its folder, which are made in `scratch`.
inline std::vector<ZpStartForm> ZpStartForms(const std::string& program, const ZpTestDir& scratch) {
  std::string folder = program.substr(0, program.rfind('/'));
  std::string base = program.substr(folder.size() + 1);
  std::string parent = folder.substr(0, folder.rfind('/'));
  std::string folderName = folder.substr(parent.size() + 1);
  EXPECT_EQ(symlink(program.c_str(), (scratch / "tool").c_str()), 0);
  EXPECT_EQ(symlink(folder.c_str(), (scratch / "linked").c_str()), 0);
  std::string in = "cd '" + scratch.Path() + "' && ";
  return {
      {"absolute path", "'" + program + "'"},
      {"./name", "cd '" + folder + "' && ./" + base},
      {"dir/name", "cd '" + parent + "' && " + folderName + "/" + base},
      {"../dir/name", "cd '" + folder + "' && ../" + folderName + "/" + base},
      {"bare name along PATH", "cd / && PATH='" + folder + "' && export PATH && " + base},
      {"link by absolute path", "'" + (scratch / "tool") + "'"},
      {"./link", in + "./tool"},
      {"link along PATH", "cd / && PATH='" + scratch.Path() + "' && export PATH && tool"},
      {"through a linked folder", in + "linked/" + base},
  };
}

// Runs `command` with the test `filter` and ZP_TEST_CHILD set, through the
// shell, and returns what it printed; a failure when its status is not 0.
inline std::string ZpRunChild(const std::string& command, const std::string& filter) {
  ZpScopedEnv child("ZP_TEST_CHILD", "1");
  FILE* output = popen((command + " --gtest_filter=" + filter).c_str(), "r");
  EXPECT_NE(output, nullptr) << command;
  if (!output) return "";
  std::string printed;
  char buffer[4096];
  while (fgets(buffer, sizeof buffer, output)) printed += buffer;
  EXPECT_EQ(pclose(output), 0) << command << "\n" << printed;
  return printed;
}

// In a child started by ZpRunChild.
inline bool ZpIsChild() { return getenv("ZP_TEST_CHILD") != nullptr; }

// What a forked child wrote to its standard error, and its wait status.
struct ZpChildResult {
  std::string err;
  int status = -1;
};

// Runs `body` in a forked child with its standard error piped back (and
// _exit(0) after it), so that installing handlers and dying of signals stays
// out of the test process.
inline ZpChildResult ZpRunInChild(const std::function<void()>& body) {
  ZpChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    close(fds[1]);
    body();
    _exit(0);
  }
  close(fds[1]);
  char chunk[4096];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) result.err.append(chunk, size_t(n));
  }
  close(fds[0]);
  waitpid(pid, &result.status, 0);
  return result;
}

inline bool ZpExitedWith(int status, int code) {
  return WIFEXITED(status) && WEXITSTATUS(status) == code;
}
