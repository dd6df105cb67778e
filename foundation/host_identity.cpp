#include "host_identity.h"

#include <limits.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "directories.h"
#include "format_buffer.h"

namespace {

constexpr size_t kMaxEntryPath = 235;
constexpr char kVirtualNet[] = "/devices/virtual/net/";

// Process-wide caches, filled on first success without a lock: concurrent
// first calls store the same values.
int32_t cachedHostId = 0;
bool macKnown = false;
uint8_t cachedMac[6];

std::atomic<uint32_t> idCounter{0};

bool AskInterface(int sock, const char* name, uint8_t mac[6]) {
  ifreq request;
  memset(&request, 0, sizeof request);
  snprintf(request.ifr_name, sizeof request.ifr_name, "%s", name);
  if (ioctl(sock, SIOCGIFHWADDR, &request) != 0) return false;
  memcpy(mac, request.ifr_hwaddr.sa_data, 6);
  return true;
}

// eth0..eth9, then em1..em9; the first that answers.
bool AskNamedInterfaces(uint8_t mac[6]) {
  int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) return false;
  bool found = false;
  char name[IFNAMSIZ];
  for (int i = 0; i <= 9 && !found; ++i) {
    snprintf(name, sizeof name, "eth%d", i);
    found = AskInterface(sock, name, mac);
  }
  for (int i = 1; i <= 9 && !found; ++i) {
    snprintf(name, sizeof name, "em%d", i);
    found = AskInterface(sock, name, mac);
  }
  close(sock);
  return found;
}

uint32_t BigEndian32(const uint8_t* bytes) {
  return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
         uint32_t(bytes[3]);
}

}  // namespace

int32_t ZpHostId() {
  if (cachedHostId == 0) cachedHostId = int32_t(gethostid());
  return cachedHostId;
}

bool ZpHostName(char* name, unsigned size) {
  if (size == 0) return false;  // no room even for the terminating NUL
  char full[HOST_NAME_MAX + 1];
  if (gethostname(full, sizeof full) != 0) {
    name[0] = '\0';
    return false;
  }
  full[HOST_NAME_MAX] = '\0';
  size_t length = strlen(full);
  bool fits = length < size;
  size_t kept = fits ? length : size - 1;
  memcpy(name, full, kept);
  name[kept] = '\0';
  return fits;
}

void ZpSysfsMacCandidate(const char* fullPath, const char* /*name*/, void* candidate) {
  ZpInterfaceCandidate* best = static_cast<ZpInterfaceCandidate*>(candidate);
  if (strlen(fullPath) > kMaxEntryPath) return;
  char target[200];
  ssize_t length = readlink(fullPath, target, sizeof target - 1);
  if (length < 0) return;
  target[length] = '\0';
  if (strstr(target, kVirtualNet) != nullptr) return;

  char path[sizeof best->path];
  snprintf(path, sizeof path, "%s/address", fullPath);
  if (best->found && strcmp(best->path, path) < 0) return;
  FILE* file = fopen(path, "r");
  if (file == nullptr) return;
  uint8_t mac[6];
  int parsed = fscanf(file, "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx", &mac[0], &mac[1], &mac[2], &mac[3],
                      &mac[4], &mac[5]);
  fclose(file);
  if (parsed != 6) return;
  best->found = true;
  memcpy(best->address, mac, 6);
  memcpy(best->path, path, sizeof path);
}

bool ZpSysfsMacAddress(const char* netDirectory, uint8_t mac[6]) {
  memset(mac, 0, 6);
  ZpInterfaceCandidate candidate;
  ZpWalkDirectory(netDirectory, ZpSysfsMacCandidate, &candidate, false);
  if (!candidate.found) return false;
  memcpy(mac, candidate.address, 6);
  return true;
}

bool ZpMacAddress(uint8_t mac[6]) {
  if (!macKnown) {
    memset(mac, 0, 6);
    if (!AskNamedInterfaces(mac) && !ZpSysfsMacAddress("/sys/class/net", mac)) return false;
    memcpy(cachedMac, mac, 6);
    macKnown = true;
  }
  memcpy(mac, cachedMac, 6);
  return true;
}

bool ZpMacAddressRecord(uint8_t record[8]) {
  record[0] = record[1] = 0;
  return ZpMacAddress(record + 2);
}

bool ZpMacAddress64(uint64_t* value) {
  uint8_t record[8];
  bool found = ZpMacAddressRecord(record);
  *value = 0;
  if (found) memcpy(value, record, sizeof record);
  return found;
}

char* ZpMacAddressString(const uint8_t record[8]) {
  char* text = static_cast<char*>(malloc(36));
  if (text != nullptr) snprintf(text, 36, "%x%08x", BigEndian32(record), BigEndian32(record + 4));
  return text;
}

char* ZpUniqueIdWith(const char* prefix, const char* macText) {
  uint32_t counter = ++idCounter;
  int pid = int(getpid());
  int32_t seconds = int32_t(time(nullptr));
  ZpFormatBuffer id;
  if (prefix != nullptr) {
    id.Printf("%s-%s-%d-%d-%d", prefix, macText, pid, seconds, int(counter));
  } else {
    id.Printf("%s-%d-%d-%d", macText, pid, seconds, int(counter));
  }
  return strdup(id.Text());
}

char* ZpUniqueId(const char* prefix) {
  uint8_t record[8];
  char* macText = ZpMacAddressRecord(record) ? ZpMacAddressString(record) : nullptr;
  char* id = ZpUniqueIdWith(prefix, macText != nullptr ? macText : "<invalid-mac-address>");
  free(macText);
  return id;
}
