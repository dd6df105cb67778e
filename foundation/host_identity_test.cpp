#include "host_identity.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

std::string Take(char* text) {
  std::string copy = text ? text : "(null)";
  free(text);
  return copy;
}

// A fake "/sys/class/net": links to interface folders, physical or virtual.
class FakeSysfs {
 public:
  FakeSysfs() {
    dir_.MakeDir("net");
    dir_.MakeDir("devices");
    dir_.MakeDir("devices/virtual");
    dir_.MakeDir("devices/virtual/net");
    dir_.MakeDir("devices/pci");
  }
  void Physical(const std::string& name, const std::string& address) {
    Interface("devices/pci/" + name, name, address);
  }
  void Virtual(const std::string& name, const std::string& address) {
    Interface("devices/virtual/net/" + name, name, address);
  }
  std::string Net() const { return dir_ / "net"; }

 private:
  void Interface(const std::string& folder, const std::string& name, const std::string& address) {
    dir_.MakeDir(folder);
    dir_.WriteFile(folder + "/address", address);
    EXPECT_EQ(symlink(("../" + folder).c_str(), (dir_ / ("net/" + name)).c_str()), 0);
  }
  ZpTestDir dir_;
};

std::string MacText(const uint8_t mac[6]) {
  char text[18];
  snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
  return text;
}

}  // namespace

TEST(SysfsMacTest, FirstPhysicalAddressFileInByteOrderWins) {
  FakeSysfs sysfs;
  sysfs.Virtual("aa_bridge", "0a:0a:0a:0a:0a:0a\n");
  sysfs.Physical("ab_broken", "not an address\n");
  sysfs.Physical("eth_b", "00:1a:2b:3c:4d:5e\n");
  sysfs.Physical("eth_a", "02:00:00:00:00:01\n");
  sysfs.Virtual("lo", "00:00:00:00:00:00\n");
  // A plain folder, not a link, is no interface of its own.
  mkdir((sysfs.Net() + "/aa_folder").c_str(), 0755);
  FILE* f = fopen((sysfs.Net() + "/aa_folder/address").c_str(), "w");
  fputs("0b:0b:0b:0b:0b:0b\n", f);
  fclose(f);

  uint8_t mac[6];
  ASSERT_TRUE(ZpSysfsMacAddress(sysfs.Net().c_str(), mac));
  EXPECT_EQ(MacText(mac), "02:00:00:00:00:01");

  // The same winner whichever order the entries come in.
  for (bool aFirst : {true, false}) {
    ZpInterfaceCandidate candidate;
    std::string a = sysfs.Net() + "/eth_a", b = sysfs.Net() + "/eth_b";
    ZpSysfsMacCandidate((aFirst ? a : b).c_str(), "", &candidate);
    ZpSysfsMacCandidate((aFirst ? b : a).c_str(), "", &candidate);
    ASSERT_TRUE(candidate.found);
    EXPECT_EQ(MacText(candidate.address), "02:00:00:00:00:01");
    EXPECT_EQ(std::string(candidate.path), a + "/address");
  }
}

TEST(SysfsMacTest, NoPhysicalInterfaceGivesFalseAndZeros) {
  FakeSysfs sysfs;
  uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_FALSE(ZpSysfsMacAddress(sysfs.Net().c_str(), mac));
  EXPECT_EQ(MacText(mac), "00:00:00:00:00:00");
  sysfs.Virtual("lo", "00:00:00:00:00:00\n");
  EXPECT_FALSE(ZpSysfsMacAddress(sysfs.Net().c_str(), mac));
  EXPECT_FALSE(ZpSysfsMacAddress("/nonexistent/net", mac));
}

TEST(MacAddressTest, StringDropsLeadingZerosOfTheFirstHalf) {
  const uint8_t first[8] = {0, 0, 0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  const uint8_t second[8] = {0, 0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(Take(ZpMacAddressString(first)), "1a2b3c4d5e");
  EXPECT_EQ(Take(ZpMacAddressString(second)), "20000000001");
}

TEST(MacAddressTest, RecordAnd64BitFormAgreeWithTheAddress) {
  uint8_t mac[6];
  bool found = ZpMacAddress(mac);
  uint8_t record[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(ZpMacAddressRecord(record), found);
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(record[1], 0);
  EXPECT_EQ(memcmp(record + 2, mac, 6), 0);
  uint64_t value = 1;
  EXPECT_EQ(ZpMacAddress64(&value), found);
  if (found) {
    EXPECT_EQ(memcmp(&value, record, 8), 0);  // the record's bytes, in memory order
  } else {
    EXPECT_EQ(value, 0u);
  }
}

TEST(UniqueIdTest, FormatsWithAndWithoutPrefixAndCounts) {
  std::string pid = std::to_string(getpid());
  time_t before = time(nullptr);
  std::string plain = Take(ZpUniqueIdWith(nullptr, "1a2b3c4d5e"));
  std::string job = Take(ZpUniqueIdWith("job", "1a2b3c4d5e"));
  std::string empty = Take(ZpUniqueIdWith("", "1a2b3c4d5e"));
  time_t after = time(nullptr);

  std::string head = "1a2b3c4d5e-" + pid + "-";
  ASSERT_EQ(plain.rfind(head, 0), 0u) << plain;
  ASSERT_EQ(job.rfind("job-" + head, 0), 0u) << job;
  ASSERT_EQ(empty.rfind("-" + head, 0), 0u) << empty;

  // mac-pid-time-counter: the time lies within the calls, the counters follow.
  long seconds = 0;
  unsigned first = 0, second = 0, third = 0;
  ASSERT_EQ(sscanf(plain.c_str() + head.size(), "%ld-%u", &seconds, &first), 2);
  EXPECT_GE(seconds, long(before));
  EXPECT_LE(seconds, long(after));
  ASSERT_EQ(sscanf(job.c_str() + 4 + head.size(), "%*d-%u", &second), 1);
  ASSERT_EQ(sscanf(empty.c_str() + 1 + head.size(), "%*d-%u", &third), 1);
  EXPECT_GE(first, 1u);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(third, first + 2);
}

TEST(UniqueIdTest, UsesTheMachineAddressOrTheInvalidMarker) {
  uint8_t record[8];
  std::string mac =
      ZpMacAddressRecord(record) ? Take(ZpMacAddressString(record)) : "<invalid-mac-address>";
  std::string id = Take(ZpUniqueId(nullptr));
  EXPECT_EQ(id.rfind(mac + "-" + std::to_string(getpid()) + "-", 0), 0u) << id;
  EXPECT_EQ(Take(ZpUniqueId("job")).rfind("job-" + mac + "-", 0), 0u);
}

TEST(UniqueIdTest, ThreadsNeverGetTheSameIdentifier) {
  const int perThread = 500;
  std::vector<std::vector<std::string>> made(4);
  std::vector<std::thread> threads;
  for (auto& ids : made) {
    threads.emplace_back([&ids] {
      for (int i = 0; i < perThread; ++i) ids.push_back(Take(ZpUniqueIdWith(nullptr, "m")));
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::string> distinct;
  for (auto& ids : made) distinct.insert(ids.begin(), ids.end());
  EXPECT_EQ(distinct.size(), made.size() * perThread);
}

TEST(HostNameTest, FitsOrIsCutAndTerminated) {
  utsname system;
  ASSERT_EQ(uname(&system), 0);
  std::string host = system.nodename;
  ASSERT_FALSE(host.empty());

  char name[256];
  EXPECT_TRUE(ZpHostName(name, sizeof name));
  EXPECT_EQ(std::string(name), host);

  std::vector<char> small(host.size(), 'x');  // no room for the NUL
  EXPECT_FALSE(ZpHostName(small.data(), unsigned(small.size())));
  EXPECT_EQ(std::string(small.data()), host.substr(0, host.size() - 1));

  char one[1] = {'x'};
  EXPECT_FALSE(ZpHostName(one, 1));
  EXPECT_EQ(one[0], '\0');

  // No room at all: nothing is written (the byte after the buffer stays).
  char guarded[2] = {'x', 'y'};
  EXPECT_FALSE(ZpHostName(guarded, 0));
  EXPECT_EQ(guarded[0], 'x');
  EXPECT_EQ(guarded[1], 'y');
}

TEST(HostIdTest, IsTheSystemHostIdAndStaysTheSame) {
  int32_t id = ZpHostId();
  EXPECT_EQ(id, int32_t(gethostid()));
  EXPECT_EQ(ZpHostId(), id);
}
