#include "package_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "interruption.h"

namespace {

std::string SystemText(int error) { return std::strerror(error); }

// The steps of a relative folder name; "." and empty steps are dropped.
bool SplitSteps(const std::string& relative, std::vector<std::string>* steps,
                std::string* error) {
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string step = relative.substr(start, end - start);
    if (step == "..") {
      *error = "'..' leads out of the package";
      return false;
    }
    if (!step.empty() && step != ".") steps->push_back(step);
    start = end + 1;
  }
  return true;
}

int OpenStep(int parent, const std::string& step) {
  int fd;
  do {
    fd = openat(parent, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= size_t(n);
  }
  return true;
}

// "Nothing to read yet" in a regular file means it only looks like one.
bool ReadableNow(int fd) {
  pollfd request = {fd, POLLIN, 0};
  return poll(&request, 1, 0) == 1;
}

std::atomic<unsigned> temporaryCounter{0};

// The final name's extension ("" when it has none or only a long one), kept
// at the end of the temporary name.
std::string ExtensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) return std::string();
  return name.substr(dot);
}

}  // namespace

PackageDirectory::PackageDirectory(int fd, std::string path, bool locked)
    : fd_(fd), path_(std::move(path)), locked_(locked) {}

PackageDirectory::~PackageDirectory() {
  if (locked_) flock(fd_, LOCK_UN);
  close(fd_);
}

std::unique_ptr<PackageDirectory> PackageDirectory::OpenPackage(const std::string& path,
                                                                std::string* error) {
  // A size limit must make a write fail, not end the run without a word.
  signal(SIGXFSZ, SIG_IGN);
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = SystemText(errno);
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    std::fprintf(stderr, "#Waiting for another run to finish with '%s'\n", path.c_str());
    int result;
    do {
      result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
  }
  return std::unique_ptr<PackageDirectory>(new PackageDirectory(fd, path, true));
}

std::string PackageDirectory::OpenedPath() const {
  std::string route = "/proc/" + std::to_string(long(getpid())) + "/fd/" + std::to_string(fd_);
  struct stat opened, routed;
  if (fstat(fd_, &opened) == 0 && stat(route.c_str(), &routed) == 0 &&
      opened.st_dev == routed.st_dev && opened.st_ino == routed.st_ino)
    return route;
  return path_;
}

std::unique_ptr<PackageDirectory> PackageDirectory::OpenSubfolder(const std::string& relative,
                                                                  std::string* error) const {
  std::vector<std::string> steps;
  if (!SplitSteps(relative, &steps, error)) return nullptr;
  int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  std::string path = path_;
  for (const std::string& step : steps) {
    if (fd < 0) break;
    int next = OpenStep(fd, step);
    int failure = errno;
    struct stat info;
    bool link = next < 0 && fstatat(fd, step.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode);
    close(fd);
    fd = next;
    path += "/" + step;
    if (fd < 0) {
      *error = link ? "'" + path + "' is a symbolic link" : SystemText(failure);
      return nullptr;
    }
  }
  if (fd < 0) {
    *error = SystemText(errno);
    return nullptr;
  }
  return std::unique_ptr<PackageDirectory>(new PackageDirectory(fd, path, false));
}

std::unique_ptr<PackageDirectory> PackageDirectory::FolderFor(const std::string& name,
                                                              std::string* leaf,
                                                              std::string* error) const {
  size_t slash = name.rfind('/');
  *leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  if (leaf->empty() || *leaf == "." || *leaf == "..") {
    *error = "'" + name + "' names no file";
    return nullptr;
  }
  return OpenSubfolder(slash == std::string::npos ? "" : name.substr(0, slash), error);
}

PackageFile::PackageFile(const PackageDirectory& folder, std::string name, std::string temporary,
                         int fd, int ticket)
    : folder_(folder),
      name_(std::move(name)),
      temporary_(std::move(temporary)),
      fd_(fd),
      ticket_(ticket) {}

std::unique_ptr<PackageFile> PackageFile::Create(const PackageDirectory& folder,
                                                 const std::string& name, std::string* error) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    *error = "'" + name + "' names no file";
    return nullptr;
  }
  std::string extension = ExtensionOf(name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Short and fixed in form: a name of 255 bytes leaves no room for more.
    char number[64];
    std::snprintf(number, sizeof number, ".tracwell-%ld-%u.part", long(getpid()),
                  temporaryCounter.fetch_add(1));
    std::string temporary = number + extension;
    // Registered before it exists, so that no moment leaves it unregistered.
    int ticket = ZpRegisterPartialFile(folder.fd(), temporary.c_str());
    int fd = openat(folder.fd(), temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    int failure = errno;
    if (fd >= 0 && !ZpStillRegistered(ticket)) {
      // The run is being interrupted and may have looked before the file
      // existed; ZpUnregister then waits for the end.
      unlinkat(folder.fd(), temporary.c_str(), 0);
      ZpUnregister(ticket);
    }
    if (fd >= 0) {
      return std::unique_ptr<PackageFile>(new PackageFile(folder, name, temporary, fd, ticket));
    }
    ZpUnregister(ticket);
    if (failure != EEXIST) {
      *error = SystemText(failure);
      return nullptr;
    }
  }
  *error = SystemText(EEXIST);
  return nullptr;
}

PackageFile::~PackageFile() {
  if (!done_) Abort();
}

void PackageFile::Fail(const char* what) {
  if (error_.empty()) error_ = std::string(what) + ": " + SystemText(errno);
}

bool PackageFile::Write(const void* data, size_t size) {
  if (done_ || fd_ < 0) return false;
  if (WriteAll(fd_, static_cast<const char*>(data), size)) return true;
  Fail("write");
  return false;
}

FILE* PackageFile::Stream() {
  if (stream_ || done_ || fd_ < 0) return stream_;
  int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  stream_ = copy < 0 ? nullptr : fdopen(copy, "wb");
  if (!stream_) {
    Fail("open");
    if (copy >= 0) close(copy);
  }
  return stream_;
}

bool PackageFile::Commit(mode_t executeBits) {
  if (done_) return false;
  if (stream_) {
    // The reason is the last failure's (errno), which is the write's unless
    // something failed since.
    bool failed = std::fflush(stream_) != 0 || std::ferror(stream_);
    failed = std::fclose(stream_) != 0 || failed;
    stream_ = nullptr;
    if (failed) {
      Fail("write");
      Abort();
      return false;
    }
  }
  struct stat info;
  if ((executeBits & 0111) != 0 && fstat(fd_, &info) == 0)
    fchmod(fd_, (info.st_mode & 07777) | (executeBits & 0111));
  int closed = close(fd_);
  fd_ = -1;
  // A write error can show only at the close (a full disk on NFS, say).
  if (closed != 0 && errno != EINTR) {
    Fail("close");
    Abort();
    return false;
  }
  if (renameat(folder_.fd(), temporary_.c_str(), folder_.fd(), name_.c_str()) != 0) {
    Fail("rename");
    Abort();
    return false;
  }
  done_ = true;
  ZpUnregister(ticket_);
  return true;
}

void PackageFile::Abort() {
  if (done_) return;
  done_ = true;
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  unlinkat(folder_.fd(), temporary_.c_str(), 0);
  ZpUnregister(ticket_);
}

bool PackageFile::HoldsContent() const {
  struct stat info;
  return !done_ && fstatat(folder_.fd(), temporary_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(info.st_mode) && info.st_size > 0;
}

std::string PackageFile::TemporaryPath() const {
  return folder_.OpenedPath() + "/" + temporary_;
}

CopyResult CopyIntoPackage(const char* source, const PackageDirectory& folder,
                           const std::string& name, std::string* error) {
  int in = open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) {
    *error = SystemText(errno);
    return CopyResult::kCannotRead;
  }
  struct stat info;
  if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode) || !ReadableNow(in)) {
    close(in);
    *error = "not a regular file";
    return CopyResult::kNotRegular;
  }
  std::unique_ptr<PackageFile> out = PackageFile::Create(folder, name, error);
  if (!out) {
    close(in);
    return CopyResult::kCannotWrite;
  }
  std::vector<char> buffer(1 << 20);
  CopyResult result = CopyResult::kCopied;
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = SystemText(errno);
      result = CopyResult::kCannotRead;
      break;
    }
    if (n == 0) break;
    if (!out->Write(buffer.data(), size_t(n))) {
      *error = out->error();
      result = CopyResult::kCannotWrite;
      break;
    }
  }
  close(in);
  if (result != CopyResult::kCopied) return result;  // out's destructor removes it
  if (!out->Commit(info.st_mode & 0111)) {
    *error = out->error();
    return CopyResult::kCannotWrite;
  }
  return CopyResult::kCopied;
}
