// Identity of the machine (host id, host name, MAC address of its first real
// network interface) and identifiers unique across machines, processes and
// time. Strings returned on the heap are the caller's to free().
#pragma once

#include <cstdint>

// gethostid(), asked once and cached; a host id of 0 is asked again each call.
int32_t ZpHostId();

// The host name into `name`. True when it fits with its NUL. A longer name is
// cut to size - 1 characters and gives false; when the system refuses the
// call `name` is "" and the result false. A size of 0 writes nothing and
// gives false.
bool ZpHostName(char* name, unsigned size);

// The MAC address: the first of eth0..eth9, then em1..em9, that answers, else
// the physical interface under "/sys/class/net" whose address file path sorts
// first. Cached once found. False, with 6 zero bytes, when there is none.
bool ZpMacAddress(uint8_t mac[6]);

// State of the "/sys/class/net" search.
struct ZpInterfaceCandidate {
  bool found = false;
  uint8_t address[6] = {};
  char path[256] = {};  // the candidate's "address" file
};

// The directory-walk callback of that search; `candidate` is a
// ZpInterfaceCandidate. Skips virtual interfaces and entries that are not
// links, and keeps the readable address file whose path sorts first.
void ZpSysfsMacCandidate(const char* fullPath, const char* name, void* candidate);

// The search itself over `netDirectory`; false, with zero bytes, when no
// candidate is found. Nothing is cached.
bool ZpSysfsMacAddress(const char* netDirectory, uint8_t mac[6]);

// Two zero bytes, then the MAC address; the result of ZpMacAddress.
bool ZpMacAddressRecord(uint8_t record[8]);

// The MAC record read as one 64-bit integer in host byte order; 0 and false
// when there is no address.
bool ZpMacAddress64(uint64_t* value);

// The record as "%x%08x" of its two big-endian halves: 00:1a:2b:3c:4d:5e
// gives "1a2b3c4d5e". A new 36-byte heap block.
char* ZpMacAddressString(const uint8_t record[8]);

// "prefix-mac-pid-time-counter", or "mac-pid-time-counter" when `prefix` is
// null; the counter starts at 1 and is shared by all threads. A MAC address
// that cannot be found reads "<invalid-mac-address>".
char* ZpUniqueId(const char* prefix);

// ZpUniqueId with the address text given, for tests.
char* ZpUniqueIdWith(const char* prefix, const char* macText);
