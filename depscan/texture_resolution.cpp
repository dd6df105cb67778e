// Texture candidates and output images: only TIFF files on disk count as
// found textures; missing names count only when they look like textures.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dependency_tracker.h"

namespace {

constexpr char kUdimMarker[] = "UDIM";

bool IsTiffMagic(const unsigned char b[4]) {
  static const unsigned char kMagics[8][4] = {
      {0x49, 0x49, 0x2A, 0x00}, {0x49, 0x49, 0x2B, 0x00},  // little-endian
      {0x4D, 0x4D, 0x00, 0x2A}, {0x4D, 0x4D, 0x00, 0x2B},  // big-endian
      {0x00, 0x2A, 0x49, 0x49}, {0x00, 0x2B, 0x49, 0x49},  // and reversed
      {0x2A, 0x00, 0x4D, 0x4D}, {0x2B, 0x00, 0x4D, 0x4D},
  };
  for (const auto& magic : kMagics) {
    if (memcmp(b, magic, 4) == 0) return true;
  }
  return false;
}

}  // namespace

bool HasTextureExtension(std::string_view value) {
  static const std::string_view kExtensions[] = {"zpt", "tif", "tiff", "exr", "jpg", "jpeg", "png"};
  size_t dot = value.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string_view extension = value.substr(dot + 1);
  for (std::string_view candidate : kExtensions) {
    if (extension == candidate) return true;
  }
  return false;
}

bool IsTiffFile(const char* path) {
  // Without blocking: a named pipe or a terminal that a scene happens to
  // name must not stop the scan; it has no header to offer.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char header[4];
  size_t filled = 0;
  while (filled < sizeof header) {
    ssize_t n = read(fd, header + filled, sizeof header - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
  }
  close(fd);
  return filled == sizeof header && IsTiffMagic(header);
}

void DependencyTracker::AddImage(std::string_view value, bool texture, bool requireTiff) {
  if (value.empty()) return;
  if (!(texture ? trackTextures : trackOutputs)) return;
  // An image this stream writes is not a texture it needs.
  if (outputs.Contains(value)) return;
  if (!texture) {
    Enter(outputs, value);
    return;
  }
  // Where the value may go is asked for while the disk is consulted.
  bool missable = HasTextureExtension(value) || !requireTiff;
  uint32_t hash = missable ? DependencySet::Hash(value) : 0;
  if (missable) missingTextures.Prefetch(hash);
  if (Disk().Exists(value.data(), value.size())) {
    AddFoundTexture(std::string(value), value, requireTiff);
    return;
  }
  size_t marker = value.find(kUdimMarker);
  if (marker != std::string_view::npos) {
    AddUdimTiles(value, marker, requireTiff);
    return;  // a UDIM pattern is never reported missing
  }
  if (missable) EnterHashed(missingTextures, value, hash);
}

// Every tile that exists, in increasing order, so that the name maps to the
// last one newly entered.
void DependencyTracker::AddUdimTiles(std::string_view value, size_t marker, bool requireTiff) {
  uint32_t length = static_cast<uint32_t>(value.size() + 1);  // the key's NUL
  uint64_t unused = 0;
  // Tried again with the TIFF test, a pattern tried before changes nothing.
  bool tried = udimPatterns.Find(value.data(), length, &unused);
  if (tried && requireTiff) return;
  if (!tried && Records(value)) udimPatterns.Insert(value.data(), length, 0);
  std::string pattern(value);
  std::string tile = pattern;
  for (int n : Disk().ExistingTiles(pattern, marker)) {
    tile.replace(marker, 4, std::to_string(n));
    AddFoundTexture(tile, value, requireTiff);
  }
}

void DependencyTracker::AddFoundTexture(const std::string& path, std::string_view value,
                                        bool requireTiff) {
  if (textures.Contains(path)) return;
  if (requireTiff) {
    if (nonTiffFiles.Contains(path)) return;
    if (!IsTiffFile(path.c_str())) {
      nonTiffFiles.Insert(path);
      return;
    }
  }
  Enter(textures, path);
  SetResolvedName(value, path);
}
