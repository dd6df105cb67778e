#include "system_info.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "line_reader.h"
#include "process.h"

namespace {

constexpr uint64_t kSectorBytes = 512;

// Whether `line` is the /proc/net/dev line of `name`: the text before its
// first ':', blanks aside, is exactly the name (so eth1 does not count the
// line of eth10 or veth1).
bool IsLineOf(const char* line, const char* name) {
  const char* colon = strchr(line, ':');
  if (colon == nullptr) return false;
  while (*line == ' ' || *line == '\t') ++line;
  size_t length = strlen(name);
  return size_t(colon - line) == length && strncmp(line, name, length) == 0;
}

bool IsCountedInterface(const ifaddrs* entry) {
  return entry->ifa_name != nullptr && (entry->ifa_flags & IFF_UP) &&
         !(entry->ifa_flags & IFF_LOOPBACK) && entry->ifa_addr != nullptr &&
         entry->ifa_addr->sa_family == AF_PACKET;
}

bool LineCounts(const char* line, const ifaddrs* interfaces) {
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (IsCountedInterface(entry) && IsLineOf(line, entry->ifa_name)) return true;
  }
  return false;
}

}  // namespace

bool ZpDiskTrafficFrom(const char* diskstatsPath, uint64_t* bytesRead, uint64_t* bytesWritten) {
  *bytesRead = 0;
  *bytesWritten = 0;
  FILE* file = fopen(diskstatsPath, "r");
  if (file == nullptr) return false;
  uint64_t sectorsRead = 0, sectorsWritten = 0;
  char line[199];
  while (ZpReadLine(file, line, sizeof line)) {
    int major, minor;
    char name[200];
    unsigned reads, readsMerged, readTime, writes, writesMerged, writeTime, ioTime, weightedTime;
    unsigned long read, written;
    int fields = sscanf(line, "%4d %4d %199s %u %u %lu %u %u %u %lu %u %*u %u %u", &major, &minor,
                        name, &reads, &readsMerged, &read, &readTime, &writes, &writesMerged,
                        &written, &writeTime, &ioTime, &weightedTime);
    if (fields == 13 && minor == 0) {
      sectorsRead += read;
      sectorsWritten += written;
    }
  }
  fclose(file);
  *bytesRead = sectorsRead * kSectorBytes;
  *bytesWritten = sectorsWritten * kSectorBytes;
  return true;
}

bool ZpDiskTraffic(uint64_t* bytesRead, uint64_t* bytesWritten) {
  return ZpDiskTrafficFrom("/proc/diskstats", bytesRead, bytesWritten);
}

bool ZpNetworkTrafficFrom(const char* netDevPath, const ifaddrs* interfaces,
                          uint64_t* bytesReceived, uint64_t* bytesSent) {
  *bytesReceived = 0;
  *bytesSent = 0;
  FILE* file = fopen(netDevPath, "r");
  if (file == nullptr) return false;
  char line[1024];
  bool headerOk = ZpReadLine(file, line, sizeof line) && ZpReadLine(file, line, sizeof line) &&
                  strstr(line, "multicast") != nullptr && strstr(line, "compressed") != nullptr;
  uint64_t received = 0, sent = 0;
  while (headerOk && ZpReadLine(file, line, sizeof line)) {
    if (strlen(line) < 8 || !LineCounts(line, interfaces)) continue;
    unsigned long long in, out;
    if (sscanf(strchr(line, ':') + 1,
               "%llu %*u %*u %*u %*u %*u %*u %*u %llu %*u %*u %*u %*u %*u %*u %*u", &in,
               &out) == 2) {
      received += in;
      sent += out;
    }
  }
  fclose(file);
  if (!headerOk) return false;
  *bytesReceived = received;
  *bytesSent = sent;
  return true;
}

bool ZpNetworkTraffic(uint64_t* bytesReceived, uint64_t* bytesSent) {
  *bytesReceived = 0;
  *bytesSent = 0;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool ok = ZpNetworkTrafficFrom("/proc/net/dev", interfaces, bytesReceived, bytesSent);
  freeifaddrs(interfaces);
  return ok;
}

bool ZpLoadAverage(double averages[3]) {
  averages[0] = averages[1] = averages[2] = 0;
  return getloadavg(averages, 3) >= 0;
}

int ZpPhysicalCoreCountIn(const char* cpuDirectory) {
  // The shell's exit status carries the count; cat's complaints about
  // missing files stay out of the caller's standard error.
  std::string line = "exit `cat " + ZpShellQuote(cpuDirectory) +
                     "/cpu*/topology/thread_siblings 2>/dev/null | sort | uniq | wc -l`";
  int status = system(line.c_str());
  if (status == -1) return 0;
  return (status >> 8) & 0xff;
}

int ZpPhysicalCoreCount() {
  return ZpPhysicalCoreCountIn("/sys/devices/system/cpu");
}

int ZpProcessorCount() {
  return get_nprocs_conf();
}
