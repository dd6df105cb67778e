#include "system_info.h"

#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <string>

#include "test_support.h"

TEST(DiskTrafficTest, CountsWholeDisksOnlyInBytes) {
  ZpTestDir dir;
  // The tail of an overlong partition line reads like a whole-disk line; it
  // must not be taken for one.
  std::string overlong = "   8       5 " + std::string(185, 'p') +
                         "   9 0 fake 1 1 999999 1 1 1 999999 1 1 1 1 1\n";
  std::string path = dir.WriteFile(
      "diskstats",
      "   8       0 sda 100 5 2000 30 50 3 1000 20 0 40 50 0 0 0 0 0 0\n"
      "   8       1 sda1 90 5 1800 30 45 3 900 20 0 40 50 0 0 0 0 0 0\n"
      " 259       0 nvme0n1 10 0 300 1 20 0 400 2 0 3 3\n"
      "   8      16 sdb 1 2\n"
      "   8      32 sdc 1 2 3\n" +
          overlong + "   7       0 loop0 1 0 8 0 0 0 0 0 0 0 0\n");
  uint64_t read = 1, written = 1;
  ASSERT_TRUE(ZpDiskTrafficFrom(path.c_str(), &read, &written));
  EXPECT_EQ(read, (2000u + 300u + 8u) * 512u);
  EXPECT_EQ(written, (1000u + 400u) * 512u);
}

TEST(DiskTrafficTest, MissingFileGivesFalseAndEmptyFileZero) {
  ZpTestDir dir;
  uint64_t read = 1, written = 1;
  EXPECT_FALSE(ZpDiskTrafficFrom((dir / "none").c_str(), &read, &written));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(written, 0u);
  read = written = 1;
  EXPECT_TRUE(ZpDiskTrafficFrom(dir.WriteFile("empty", "").c_str(), &read, &written));
  EXPECT_EQ(read + written, 0u);
}

namespace {

const char kNetHeader[] =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n";

// A hand-made interface list: each entry one (name, flags, address family).
class FakeInterfaces {
 public:
  void Add(const char* name, unsigned flags, sa_family_t family) {
    addresses_.emplace_back();
    addresses_.back().sa_family = family;
    entries_.emplace_back();
    ifaddrs& entry = entries_.back();
    entry.ifa_name = const_cast<char*>(name);
    entry.ifa_flags = flags;
    entry.ifa_addr = &addresses_.back();
    if (entries_.size() > 1) entries_[entries_.size() - 2].ifa_next = &entry;
  }
  const ifaddrs* List() const { return entries_.empty() ? nullptr : &entries_.front(); }

 private:
  std::deque<ifaddrs> entries_;
  std::deque<sockaddr> addresses_;
};

}  // namespace

TEST(NetworkTrafficTest, CountsUpNonLoopbackInterfacesWithLinkAddress) {
  FakeInterfaces interfaces;
  interfaces.Add("lo", IFF_UP | IFF_LOOPBACK, AF_PACKET);
  interfaces.Add("eth0", IFF_UP, AF_INET);
  interfaces.Add("eth0", IFF_UP, AF_PACKET);
  interfaces.Add("eth1", 0, AF_PACKET);       // down
  interfaces.Add("veth0", 0, AF_PACKET);      // down, and holds "eth0"
  interfaces.Add("wlan0", IFF_UP, AF_PACKET);
  interfaces.Add("tun0", IFF_UP, AF_INET);    // no link-layer address
  ZpTestDir dir;
  std::string path = dir.WriteFile(
      "dev", std::string(kNetHeader) +
                 "    lo:  500 5 0 0 0 0 0 0  500 5 0 0 0 0 0 0\n"
                 "  eth0: 1000 10 0 0 0 0 0 0 2000 20 0 0 0 0 0 0\n"
                 "  eth1: 7 1 0 0 0 0 0 0 9 1 0 0 0 0 0 0\n"
                 " veth0: 30000 1 0 0 0 0 0 0 40000 1 0 0 0 0 0 0\n"
                 " wlan0: 100 1 0 0 0 0 0 0 200 2 0 0 0 0 0 0\n"
                 "  tun0: 50 1 0 0 0 0 0 0 60 1 0 0 0 0 0 0\n");
  uint64_t received = 1, sent = 1;
  ASSERT_TRUE(ZpNetworkTrafficFrom(path.c_str(), interfaces.List(), &received, &sent));
  EXPECT_EQ(received, 1100u);
  EXPECT_EQ(sent, 2200u);
}

TEST(NetworkTrafficTest, UnexpectedHeaderOrMissingFileGivesFalse) {
  FakeInterfaces interfaces;
  interfaces.Add("eth0", IFF_UP, AF_PACKET);
  ZpTestDir dir;
  std::string path = dir.WriteFile("dev",
                                   "Inter-|   Receive  |  Transmit\n"
                                   " face |bytes packets multicast|bytes packets\n"
                                   "  eth0: 1000 10 0 0 0 0 0 0 2000 20 0 0 0 0 0 0\n");
  uint64_t received = 1, sent = 1;
  EXPECT_FALSE(ZpNetworkTrafficFrom(path.c_str(), interfaces.List(), &received, &sent));
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(sent, 0u);
  received = sent = 1;
  EXPECT_FALSE(ZpNetworkTrafficFrom((dir / "none").c_str(), interfaces.List(), &received, &sent));
  EXPECT_EQ(received + sent, 0u);
}

TEST(PhysicalCoreCountTest, CountsDistinctSiblingMasks) {
  ZpTestDir dir;
  const char* masks[] = {"03", "03", "0c", "0c", "10"};
  for (int cpu = 0; cpu < 5; ++cpu) {
    std::string name = "cpu" + std::to_string(cpu);
    dir.MakeDir(name);
    dir.MakeDir(name + "/topology");
    dir.WriteFile(name + "/topology/thread_siblings", std::string(masks[cpu]) + "\n");
  }
  EXPECT_EQ(ZpPhysicalCoreCountIn(dir.Path().c_str()), 3);

  ZpTestDir empty;
  EXPECT_EQ(ZpPhysicalCoreCountIn(empty.Path().c_str()), 0);
}

TEST(SystemInfoTest, LiveQueriesOfThisMachine) {
  uint64_t a = 0, b = 0;
  EXPECT_EQ(ZpDiskTraffic(&a, &b), access("/proc/diskstats", R_OK) == 0);
  EXPECT_EQ(ZpNetworkTraffic(&a, &b), access("/proc/net/dev", R_OK) == 0);
  double averages[3] = {-1, -1, -1};
  EXPECT_TRUE(ZpLoadAverage(averages));
  for (double average : averages) EXPECT_GE(average, 0.0);
  EXPECT_EQ(ZpProcessorCount(), int(sysconf(_SC_NPROCESSORS_CONF)));
  int cores = ZpPhysicalCoreCount();
  EXPECT_GE(cores, 0);
  EXPECT_LE(cores, ZpProcessorCount());
}
