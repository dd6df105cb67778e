// Texture candidates and output images: only TIFF files on disk count as
// found textures; missing names count only when they look like textures.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dependency_tracker.h"

namespace {

constexpr char kUdimMarker[] = "UDIM";
constexpr int kFirstUdimTile = 1001;
constexpr int kLastUdimTile = 1999;

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
  if (Contains(outputs, value)) return;
  if (!texture) {
    Enter(outputs, value);
    return;
  }
  if (existence.Exists(value.data(), value.size())) {
    AddFoundTexture(std::string(value), value, requireTiff);
    return;
  }
  size_t marker = value.find(kUdimMarker);
  if (marker != std::string_view::npos) {
    Enter(udimPatterns, value);
    std::string tile(value);
    for (int n = kFirstUdimTile; n <= kLastUdimTile; ++n) {
      tile.replace(marker, 4, std::to_string(n));
      if (existence.Exists(tile)) AddFoundTexture(tile, value, requireTiff);
    }
    return;  // a UDIM pattern is never reported missing
  }
  if (HasTextureExtension(value) || !requireTiff) EnterMissingTexture(value);
}

void DependencyTracker::EnterMissingTexture(std::string_view key) {
  if (key.data() != hashedValue) {
    Enter(missingTextures, key);
    return;
  }
  if (!Records(key)) return;
  missingTextures.InsertHashed(key.data(), static_cast<uint32_t>(key.size() + 1),
                               hashedValueHash, 0);
}

void DependencyTracker::AddFoundTexture(const std::string& path, std::string_view value,
                                        bool requireTiff) {
  if (Contains(textures, path)) return;
  if (requireTiff && !IsTiffFile(path.c_str())) return;
  Enter(textures, path);
  SetResolvedName(value, path);
}
