#include "file_utils.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "interruption.h"

namespace {

bool StatOf(const char* path, struct stat& info) { return stat(path, &info) == 0; }

bool StatfsOf(const char* path, struct statfs& info) { return statfs(path, &info) == 0; }

}  // namespace

uint64_t ZpFreeDiskSpace(const char* path) {
  struct statfs info;
  return StatfsOf(path, info) ? uint64_t(info.f_bsize) * info.f_bavail : 0;
}

int64_t ZpFileSize(const char* path) {
  struct stat info;
  return StatOf(path, info) ? info.st_size : 0;
}

int64_t ZpFileAccessTime(const char* path) {
  struct stat info;
  return StatOf(path, info) ? info.st_atime : 0;
}

int64_t ZpFileModificationTime(const char* path) {
  struct stat info;
  return StatOf(path, info) ? info.st_mtime : 0;
}

bool ZpTouchFile(const char* path) { return utime(path, nullptr) == 0; }

bool ZpFileExists(const char* path) { return access(path, F_OK) == 0; }

bool ZpFileReadable(const char* path) { return access(path, R_OK) == 0; }

bool ZpFileWritable(const char* path) { return access(path, W_OK) == 0; }

int64_t ZpFileSystemType(const char* path) {
  struct statfs info;
  return StatfsOf(path, info) ? int64_t(info.f_type) : 0;
}

namespace {

struct FileSystemName {
  uint32_t magic;
  const char* name;
};

// ext3 and ext4 share the ext2 magic, so all three read "ext2".
const FileSystemName kFileSystemNames[] = {
    {0x517B, "smbfs"},      {0x6969, "nfs"},       {0x9660, "iso9660"},
    {0xEF51, "ext2"},       {0xEF53, "ext2"},      {0x0BD00BD0, "lustre"},
    {0xFF534D42, "cifs"},   {0x58465342, "xfs"},   {0x013111A8, "ibrix"},
};

}  // namespace

void ZpFileSystemName(const char* path, char* name) {
  name[0] = '\0';
  struct statfs info;
  if (!StatfsOf(path, info)) return;
  for (const FileSystemName& known : kFileSystemNames) {
    if (uint32_t(info.f_type) == known.magic) {
      strcpy(name, known.name);
      return;
    }
  }
}

bool ZpIsMemoryFileSystem(const std::string& path) {
  struct statfs info;
  if (!StatfsOf(path.c_str(), info)) return false;
  uint32_t type = uint32_t(info.f_type);
  return type == 0x01021994 || type == 0x858458F6;
}

namespace {

constexpr size_t kCopyBlock = 1 << 20;
// Bytes asked of one copy_file_range call.
constexpr size_t kCopyChunk = size_t{1} << 30;

// Closes a descriptor when the copy returns, on every path.
struct Descriptor {
  int fd;
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

bool WriteAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(fd, bytes, count);
    if (written < 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

enum class CopyEnd { kEndOfFile, kReadError, kWriteError };

// The file system copies without the data passing through this process. Any
// failure (another file system, a pipe or device, an old kernel) leaves the
// rest to the read/write loop, which goes on from the offsets reached and
// reports the error itself if it persists.
void CopyInKernel(int from, int to) {
  for (;;) {
    ssize_t copied = copy_file_range(from, nullptr, to, nullptr, kCopyChunk, 0);
    if (copied <= 0) return;
  }
}

// One buffer per thread, taken at its first use and kept: allocating the
// block for every file cost a fresh mapping and its page faults each time.
char* CopyBuffer() {
  static thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer.reset(new char[kCopyBlock]);
  return buffer.get();
}

// After the kernel's copy this loop reads once more: some files (in /proc,
// say) report no size and look ended to copy_file_range while a read still
// gives bytes.
CopyEnd CopyContents(int from, int to) {
  CopyInKernel(from, to);
  char* buffer = CopyBuffer();
  for (;;) {
    ssize_t got = read(from, buffer, kCopyBlock);
    if (got == 0) return CopyEnd::kEndOfFile;
    if (got < 0) return CopyEnd::kReadError;
    if (!WriteAll(to, buffer, static_cast<size_t>(got))) return CopyEnd::kWriteError;
  }
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool ZpCopyFile(const char* source, const char* destination) {
  Descriptor from(open(source, O_RDONLY | O_CLOEXEC));
  if (from.fd < 0) return false;
  // Opened without O_TRUNC: truncating first would destroy the source when
  // both names lead to one file, so compare the two before emptying anything.
  Descriptor to(open(destination, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (to.fd < 0) return false;
  // Without both identities the copy cannot be known to be safe.
  struct stat fromInfo, toInfo;
  if (fstat(from.fd, &fromInfo) != 0 || fstat(to.fd, &toInfo) != 0) return false;
  if (SameFile(fromInfo, toInfo)) {
    errno = EINVAL;
    return false;
  }
  // A regular file cut short by an interruption is removed then; the run
  // ends, so nothing would finish it.
  ZpPartialFile partial(S_ISREG(toInfo.st_mode) ? destination : nullptr);
  if (S_ISREG(toInfo.st_mode) && ftruncate(to.fd, 0) != 0) return false;
  CopyEnd end = CopyContents(from.fd, to.fd);
  if (end == CopyEnd::kWriteError) return false;
  // What was copied gets the source's execute bits, also after a read error.
  fchmod(to.fd, (toInfo.st_mode & 07777) | (fromInfo.st_mode & 0111));
  return end == CopyEnd::kEndOfFile;
}

bool ZpRemoveFile(const char* path) { return unlink(path) == 0; }

namespace {

// Puts a second name (or, failing that, a copy) of `source` at `destination`.
bool LinkOrCopy(const char* source, const char* destination, bool replace) {
  if (link(source, destination) == 0) return true;
  if (errno == EEXIST) {
    if (!replace || unlink(destination) != 0) return false;
    if (link(source, destination) == 0) return true;
  }
  // Across file systems, for instance.
  if (!replace && access(destination, F_OK) == 0) return false;
  return ZpCopyFile(source, destination);
}

}  // namespace

bool ZpMoveFile(const char* source, const char* destination, bool replace) {
  if (strcmp(source, destination) == 0) return true;
  if (replace && rename(source, destination) == 0) return true;
  if (!LinkOrCopy(source, destination, replace)) return false;
  return unlink(source) == 0;
}

bool ZpIsTerminal(int fd) { return isatty(fd) != 0; }

uint32_t ZpMaxOpenFiles() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  return static_cast<uint32_t>(limit.rlim_cur);
}

namespace {

// mkstemp in each temporary directory in turn: $ZP_TMPDIR, $TMPDIR, /tmp, ".".
// Returns the descriptor and leaves the name in `name`, or -1.
int MakeTemporary(const char* prefix, std::string& name) {
  const char* directories[] = {getenv("ZP_TMPDIR"), getenv("TMPDIR"), "/tmp", "."};
  for (const char* directory : directories) {
    if (!directory) continue;
    name = std::string(directory) + "/" + prefix + "XXXXXX";
    int fd = mkstemp(&name[0]);
    if (fd >= 0) return fd;
  }
  return -1;
}

}  // namespace

FILE* ZpTemporaryFile() {
  std::string name;
  int fd = MakeTemporary("tmpf", name);
  if (fd >= 0) {
    unlink(name.c_str());  // vanishes when closed
    if (FILE* file = fdopen(fd, "r+b")) return file;
    close(fd);
  }
  return tmpfile();
}

char* ZpTemporaryFileName(const char* prefix) {
  std::string name;
  int fd = MakeTemporary(prefix, name);
  if (fd < 0) return nullptr;
  close(fd);
  return strdup(name.c_str());
}

int ZpCloseFile(FILE* file) { return file ? fclose(file) : EOF; }

std::string ZpRealPath(const std::string& path) {
  if (path.empty()) return std::string();
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::string();
  return resolved;
}
