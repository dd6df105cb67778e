// Machine state for monitoring: disk and network traffic since boot, load
// average, core and processor counts. The memory figures live with the crash
// report that prints them (crash_handler.h). Nothing here prints; failures
// give false or 0 with the outputs at 0.
#pragma once

#include <cstdint>

struct ifaddrs;

// Bytes read and written by whole disks (minor number 0) since boot, from
// "/proc/diskstats". False only when the file cannot be opened.
bool ZpDiskTraffic(uint64_t* bytesRead, uint64_t* bytesWritten);

// Bytes received and sent by the up, non-loopback interfaces that have a
// link-layer address, from "/proc/net/dev". False when the file cannot be
// opened, its header is not the expected one, or the interface list cannot
// be had.
bool ZpNetworkTraffic(uint64_t* bytesReceived, uint64_t* bytesSent);

// The 1-, 5- and 15-minute load averages (all 0 first); false when
// getloadavg() fails.
bool ZpLoadAverage(double averages[3]);

// The number of distinct thread-sibling sets of the processors, that is of
// physical cores (modulo 256); 0 when the shell cannot be run.
int ZpPhysicalCoreCount();

// Processors configured, online or not.
int ZpProcessorCount();

// The same as the above over other files, for tests.
bool ZpDiskTrafficFrom(const char* diskstatsPath, uint64_t* bytesRead, uint64_t* bytesWritten);
bool ZpNetworkTrafficFrom(const char* netDevPath, const ifaddrs* interfaces,
                          uint64_t* bytesReceived, uint64_t* bytesSent);
int ZpPhysicalCoreCountIn(const char* cpuDirectory);
