#include "stream_scans.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tracker_test_support.h"

namespace {

constexpr unsigned kThreads = 4;
constexpr int kStreams = 8;

// A scan that says something and ends after the scans of later streams
// have: stream i takes longer the earlier it comes. Its tracker is of an
// empty stream.
StreamScans::Scan Saying(int i, bool warn) {
  return [i, warn]() -> DependencyTracker* {
    usleep(static_cast<useconds_t>((kStreams - i) * 4000));
    ScanMessage("m%d\n", i);
    if (warn) ReportFirstParseError(nullptr, 1, ("w" + std::to_string(i)).c_str());
    auto* tracker = new DependencyTracker(new RibFromFile("/dev/null"), "empty", 0xFFFFFFFF);
    tracker->Scan();
    return tracker;
  };
}

// The diagnostics rule is the run's: each case runs in a fresh process.
TEST(StreamScans, MessagesComeInInputOrderWhateverOrderTheScansEndIn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        StreamScans scans(kThreads, nullptr);
        for (int i = 0; i < kStreams; ++i) scans.Add(Saying(i, i >= 3));
        scans.Finish();
        for (DependencyTracker* tracker : scans.Trackers()) delete tracker;
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^m0\nm1\nm2\nm3\ntracwell: w3\nm4\nm5\nm6\nm7\n$");
}

// A fatal scanner error ends the run in its stream's turn: after every
// message of the streams before it (which end later), before any of the
// streams after it (which end earlier), and with nothing on standard
// output, where the listing of the streams before it was waiting.
TEST(StreamScans, AFatalErrorEndsTheRunInItsTurn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        fflush(stdout);
        dup2(2, 1);
        StreamScans scans(kThreads, [](DependencyTracker&, FILE* out) { fputs("L\n", out); });
        for (int i = 0; i < kStreams; ++i) {
          if (i == 5) {
            scans.Add([]() -> DependencyTracker* {
              usleep(4000);
              ScanMessage("m5\n");
              ReportFirstParseError(nullptr, 3, "the end (in 's5')");
              return nullptr;
            });
          } else {
            scans.Add(Saying(i, i == 2));
          }
        }
        scans.Finish();
        exit(0);
      },
      ::testing::ExitedWithCode(2),
      "^m0\nm1\nm2\ntracwell: w2\nm3\nm4\nm5\ntracwell: the end \\(in 's5'\\)\n$");
}

class StreamScansTest : public TrackerTest {};

// Each stream's lines are made in input order once every input is read,
// however the scans interleave; the trackers are let go.
TEST_F(StreamScansTest, ListingsComeInInputOrder) {
  for (int i = 0; i < kStreams; ++i) {
    WriteFile("s" + std::to_string(i) + ".rib",
              "SetAttribute \"t\" \"texturename\" \"string\" 1 \"" +
                  Path("lost" + std::to_string(i) + ".tif") + "\"\n");
  }
  int listed = 0;
  testing::internal::CaptureStdout();
  {
    StreamScans scans(kThreads, [&](DependencyTracker& tracker, FILE* out) {
      ++listed;
      fprintf(out, "%s\n", tracker.First(DependencyKind::MissingTexture)->c_str());
    });
    for (int i = 0; i < kStreams; ++i) {
      std::string path = Path("s" + std::to_string(i) + ".rib");
      scans.Add([i, path] {
        usleep(static_cast<useconds_t>((kStreams - i) * 2000));
        auto* tracker = new DependencyTracker(new RibFromFile(path.c_str()), path.c_str(),
                                              kAllKinds);
        tracker->Scan();
        return tracker;
      });
    }
    scans.Finish();
    EXPECT_TRUE(scans.Trackers().empty());
  }
  fflush(stdout);
  std::string expected;
  for (int i = 0; i < kStreams; ++i) expected += Path("lost" + std::to_string(i) + ".tif") + "\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  EXPECT_EQ(listed, kStreams);
}

// Without a listing the trackers are kept, in input order.
TEST_F(StreamScansTest, TrackersAreKeptInInputOrder) {
  WriteFile("a.rib", "");
  StreamScans scans(kThreads, nullptr);
  for (int i = 0; i < kStreams; ++i) {
    std::string name = "n" + std::to_string(i);
    std::string path = Path("a.rib");
    scans.Add([i, name, path]() -> DependencyTracker* {
      usleep(static_cast<useconds_t>((kStreams - i) * 2000));
      if (i == 3) return nullptr;  // could not be opened
      auto* tracker = new DependencyTracker(new RibFromFile(path.c_str()), name.c_str(),
                                            kAllKinds);
      tracker->Scan();
      return tracker;
    });
  }
  scans.Finish();
  std::string names;
  for (DependencyTracker* tracker : scans.Trackers()) names += tracker->Name();
  EXPECT_EQ(names, "n0n1n2n4n5n6n7");
  for (DependencyTracker* tracker : scans.Trackers()) delete tracker;
}

// Scans side by side must find the descriptors that one scan after another
// would: a low limit leaves fewer threads, down to none. One processor needs
// no worker either.
TEST(StreamScans, ThreadsFitTheProcessorsAndTheDescriptorLimit) {
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  unsigned processors = static_cast<unsigned>(CPU_COUNT(&set));
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct {
    rlim_t limit;
    unsigned most;
  } cases[] = {{1024, 63}, {64, 3}, {48, 2}, {40, 0}, {16, 0}, {8, 0}};
  for (const auto& c : cases) {
    if (c.limit > saved.rlim_max) continue;
    struct rlimit lowered = saved;
    lowered.rlim_cur = c.limit;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    unsigned threads = StreamScans::AvailableThreads();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    unsigned expected = std::min(processors, c.most);
    EXPECT_EQ(threads, expected > 1 ? expected : 0u) << "limit " << c.limit;
  }
  // Bound to one processor, the calling thread scans.
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &set)) continue;
    CPU_SET(cpu, &one);
    break;
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  unsigned alone = StreamScans::AvailableThreads();
  ASSERT_EQ(sched_setaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(alone, 0u);
}

}  // namespace
