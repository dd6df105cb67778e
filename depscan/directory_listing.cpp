#include "directory_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "string_hash.h"

namespace {

// Local file systems whose directories list every name they hold and match
// names byte for byte (unless a directory folds case, tested apart): ext2
// to ext4, xfs, btrfs, tmpfs and overlays of them. Network file systems may
// list from a stale cache, automounts fill in names when asked.
bool ListsEveryNameExactly(int directoryFd) {
  struct statfs info;
  if (fstatfs(directoryFd, &info) != 0) return false;
  switch (static_cast<uint32_t>(info.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x794C7630:  // overlay
      break;
    default:
      return false;
  }
#ifdef FS_CASEFOLD_FL
  int flags = 0;
  if (ioctl(directoryFd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL)) return false;
#endif
  return true;
}

bool IsDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

char FlippedCase(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

constexpr char kUdimMarker[] = "UDIM";
constexpr int kFirstTile = 1001;
constexpr int kLastTile = 1999;

// The tile number of the four bytes at p, or 0 when they are none.
int TileAt(std::string_view name, size_t p) {
  int n = 0;
  for (size_t i = p; i < p + 4; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n >= kFirstTile && n <= kLastTile ? n : 0;
}

const std::vector<uint16_t> kNoTiles;

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool Equal(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The clock that the system stamps changes with (it only moves at its
// ticks).
timespec StampClock() {
  timespec now = {};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

// A change made after the stamp gets a time no earlier than `now`'s; the
// stamp's own time must lie before it to be told apart. A file system that
// keeps whole seconds (every time without nanoseconds) cannot tell a change
// in the same second.
bool ReliableAt(const struct stat& info, const timespec& now) {
  if (info.st_ctim.tv_nsec == 0 && info.st_mtim.tv_nsec == 0) {
    return info.st_ctim.tv_sec < now.tv_sec;
  }
  return Before(info.st_ctim, now);
}

void Fill(DirectoryStamp& stamp, const struct stat& info, const timespec& now) {
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.modified = info.st_mtim;
  stamp.changed = info.st_ctim;
  stamp.reliable = ReliableAt(info, now);
}

}  // namespace

bool DirectoryStamp::Take(const char* path) {
  timespec now = StampClock();
  struct stat info;
  if (stat(*path ? path : ".", &info) != 0) return false;
  Fill(*this, info, now);
  return true;
}

bool DirectoryStamp::TakeOpen(int fd) {
  timespec now = StampClock();
  struct stat info;
  if (fstat(fd, &info) != 0) return false;
  Fill(*this, info, now);
  return true;
}

bool DirectoryStamp::Matches(const DirectoryStamp& other) const {
  return device == other.device && inode == other.inode && Equal(modified, other.modified) &&
         Equal(changed, other.changed);
}

bool DirectoryListing::Read(const std::string& directory, size_t maxNames) {
  const char* path = directory.empty() ? "." : directory.c_str();
  // Without search permission the system cannot find even a listed name.
  if (access(path, X_OK) != 0) return false;
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Taken before the names are read: a change while they are read shows
  // as a stamp that no longer matches.
  DIR* dir = stamp_.TakeOpen(fd) && ListsEveryNameExactly(fd) ? fdopendir(fd) : nullptr;
  if (!dir) {
    close(fd);
    return false;
  }
  bool whole = true;
  errno = 0;
  while (struct dirent* entry = readdir(dir)) {
    if (IsDotOrDotDot(entry->d_name)) continue;
    if (count_ == maxNames) {
      whole = false;
      break;
    }
    Add(entry->d_name, entry->d_type);
  }
  whole = whole && errno == 0 && !FoldsCase(dirfd(dir));
  closedir(dir);
  if (!whole) {
    names_.clear();
    slots_.clear();
    count_ = 0;
  }
  return whole;
}

void DirectoryListing::Add(std::string_view name, unsigned char type) {
  uint32_t offset = static_cast<uint32_t>(names_.size()) + 1;
  names_.push_back(static_cast<char>(type));
  names_.append(name).push_back('\0');
  ++count_;
  if (count_ * 2 > slots_.size()) {
    std::vector<Slot> grown(std::max<size_t>(64, slots_.size() * 2));
    for (const Slot& slot : slots_) {
      if (!slot.offset) continue;
      size_t i = slot.hash & (grown.size() - 1);
      while (grown[i].offset) i = (i + 1) & (grown.size() - 1);
      grown[i] = slot;
    }
    slots_.swap(grown);
  }
  uint32_t hash = ZpKeyHash(name.data(), name.size());
  size_t i = hash & (slots_.size() - 1);
  while (slots_[i].offset) i = (i + 1) & (slots_.size() - 1);
  slots_[i] = Slot{hash, offset};
}

DirectoryListing::Answer DirectoryListing::Find(std::string_view name) const {
  // A NUL would end the name where the system reads it.
  if (name.empty() || IsDotOrDotDot(name) || name.find('\0') != std::string_view::npos) {
    return Answer::kAsk;
  }
  if (slots_.empty()) return Answer::kMissing;
  uint32_t hash = ZpKeyHash(name.data(), name.size());
  for (size_t i = hash & (slots_.size() - 1); slots_[i].offset; i = (i + 1) & (slots_.size() - 1)) {
    if (slots_[i].hash != hash) continue;
    const char* entry = EntryAt(slots_[i].offset);
    if (std::strncmp(entry + 1, name.data(), name.size()) != 0 || entry[1 + name.size()] != '\0') {
      continue;
    }
    unsigned char type = static_cast<unsigned char>(entry[0]);
    return type == DT_LNK || type == DT_UNKNOWN ? Answer::kAsk : Answer::kPresent;
  }
  return Answer::kMissing;
}

// A directory that matches names loosely finds a listed name under another
// case: one name with a letter, asked for with that letter's case flipped,
// shows it, unless the flipped name is listed as well.
bool DirectoryListing::FoldsCase(int directoryFd) const {
  for (size_t offset = 0; offset < names_.size(); offset += std::strlen(&names_[offset + 1]) + 2) {
    std::string flipped = &names_[offset + 1];
    auto letter = std::find_if(flipped.begin(), flipped.end(),
                               [](char c) { return FlippedCase(c) != c; });
    if (letter == flipped.end()) continue;
    *letter = FlippedCase(*letter);
    if (Find(flipped) != Answer::kMissing) continue;
    struct stat info;
    return fstatat(directoryFd, flipped.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  }
  return false;
}

const std::vector<uint16_t>& DirectoryListing::Tiles(std::string_view component) const {
  std::call_once(tilesIndexed_, [this] { Index(); });
  auto found = tiles_.find(std::string(component));
  return found == tiles_.end() ? kNoTiles : found->second;
}

// Every name under each pattern it is a tile of: the name with four digits
// of a tile number made "UDIM", where that is the pattern's first "UDIM".
void DirectoryListing::Index() const {
  for (size_t offset = 0; offset < names_.size(); offset += std::strlen(&names_[offset + 1]) + 2) {
    std::string_view name(&names_[offset + 1]);
    for (size_t p = 0; p + 4 <= name.size(); ++p) {
      int tile = TileAt(name, p);
      if (!tile) continue;
      std::string pattern(name);
      pattern.replace(p, 4, kUdimMarker);
      if (pattern.find(kUdimMarker) == p) tiles_[pattern].push_back(static_cast<uint16_t>(tile));
    }
  }
  for (auto& entry : tiles_) std::sort(entry.second.begin(), entry.second.end());
}
