#include "mutex.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>
#include <vector>

namespace {

// TryLock from another thread: the answer a second thread gets right now.
bool OtherThreadCanLock(ZpMutex& mutex) {
  bool taken = false;
  std::thread other([&] {
    taken = mutex.TryLock();
    if (taken) mutex.Unlock();
  });
  other.join();
  return taken;
}

}  // namespace

TEST(MutexTest, RecursiveLockNeedsAsManyUnlocks) {
  ZpMutex mutex;
  EXPECT_EQ(mutex.Lock(), 0);
  EXPECT_EQ(mutex.Lock(), 0);
  EXPECT_TRUE(mutex.TryLock());  // ours already
  EXPECT_EQ(mutex.Unlock(), 0);
  EXPECT_EQ(mutex.Unlock(), 0);
  EXPECT_FALSE(OtherThreadCanLock(mutex));
  EXPECT_EQ(mutex.Unlock(), 0);
  EXPECT_TRUE(OtherThreadCanLock(mutex));
}

TEST(MutexTest, UnlockOfAMutexNotHeldIsReported) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer reports the misuse itself, first";
#endif
  ZpMutex mutex;
  EXPECT_NE(mutex.Unlock(), 0);
}

TEST(ConditionTest, TimedWaitOfZeroSecondsReturnsAtOnce) {
  ZpMutex mutex;
  ZpCondition condition;
  mutex.Lock();
  EXPECT_FALSE(condition.TimedWait(mutex, 0));
  EXPECT_FALSE(condition.TimedWait(mutex, -5));
  EXPECT_TRUE(mutex.TryLock());  // held again after the wait
  mutex.Unlock();
  mutex.Unlock();
}

double WallClockSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The deadline drops the fraction of the current second: called late in a
// second, a wait of 1 second times out when the next second begins, well
// before a whole second has passed. A busy machine can delay the call past
// that second, so a few tries are allowed; a deadline that keeps the fraction
// never ends before a whole second.
TEST(ConditionTest, TimedWaitEndsAtTheStartOfASecond) {
  ZpMutex mutex;
  ZpCondition condition;
  double start = 0, end = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    while (WallClockSeconds() - floor(WallClockSeconds()) < 0.6) usleep(10000);
    mutex.Lock();
    start = WallClockSeconds();
    EXPECT_FALSE(condition.TimedWait(mutex, 1));
    end = WallClockSeconds();
    mutex.Unlock();
    ASSERT_GE(end, floor(start) + 1);
    if (end < floor(start) + 1.3 && end - start < 0.9) return;
  }
  ADD_FAILURE() << "waited from " << start << " to " << end;
}

TEST(ConditionTest, SignalWithoutWaiterIsNotRemembered) {
  ZpMutex mutex;
  ZpCondition condition;
  EXPECT_EQ(condition.Signal(), 0);
  EXPECT_EQ(condition.Broadcast(), 0);
  mutex.Lock();
  EXPECT_FALSE(condition.TimedWait(mutex, 1));
  mutex.Unlock();
}

// Waiters re-test their flag around the wait, as real callers do, and give up
// after a generous deadline so that a lost wakeup fails instead of hanging.
class Waiters {
 public:
  void Start(int count) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Wait(); });
    mutex_.Lock();
    while (waiting_ < count) {  // each waiter counts itself under the lock
      mutex_.Unlock();
      std::this_thread::yield();
      mutex_.Lock();
    }
    mutex_.Unlock();
  }
  int Release(bool broadcast) {
    mutex_.Lock();
    released_ = true;
    broadcast ? condition_.Broadcast() : condition_.Signal();
    mutex_.Unlock();
    for (std::thread& t : threads_) t.join();
    return woken_;
  }

 private:
  void Wait() {
    mutex_.Lock();
    ++waiting_;
    bool intime = true;
    while (!released_ && intime) intime = condition_.TimedWait(mutex_, 30);
    if (released_ && intime) ++woken_;
    mutex_.Unlock();
  }
  ZpMutex mutex_;
  ZpCondition condition_;
  std::vector<std::thread> threads_;
  int waiting_ = 0;
  int woken_ = 0;
  bool released_ = false;
};

TEST(ConditionTest, SignalWakesAWaiter) {
  Waiters waiters;
  waiters.Start(1);
  EXPECT_EQ(waiters.Release(false), 1);
}

TEST(ConditionTest, BroadcastWakesEveryWaiter) {
  Waiters waiters;
  waiters.Start(3);
  EXPECT_EQ(waiters.Release(true), 3);
}

TEST(ConditionTest, TimedWaitReturnsTrueWhenSignalled) {
  ZpMutex mutex;
  ZpCondition condition;
  bool ready = false;
  bool signalled = false;
  mutex.Lock();
  std::thread signaller([&] {
    mutex.Lock();
    ready = true;
    condition.Signal();
    mutex.Unlock();
  });
  while (!ready) signalled = condition.TimedWait(mutex, 30);
  mutex.Unlock();
  signaller.join();
  EXPECT_TRUE(signalled);
}
