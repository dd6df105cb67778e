// Thin wrappers over POSIX mutexes and condition variables, used by every
// lock of the foundation.
#pragma once

#include <pthread.h>

// Always recursive: the holder may lock again and must unlock as often.
class ZpMutex {
 public:
  ZpMutex();
  ~ZpMutex();
  ZpMutex(const ZpMutex&) = delete;
  ZpMutex& operator=(const ZpMutex&) = delete;

  int Lock();      // pthread_mutex_lock's result
  bool TryLock();  // true when the lock was taken (also when already ours)
  int Unlock();    // pthread_mutex_unlock's result

  pthread_mutex_t* Native() { return &mutex_; }

 private:
  pthread_mutex_t mutex_;
};

// Holds a ZpMutex for one scope.
class ZpMutexLock {
 public:
  explicit ZpMutexLock(ZpMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~ZpMutexLock() { mutex_.Unlock(); }
  ZpMutexLock(const ZpMutexLock&) = delete;
  ZpMutexLock& operator=(const ZpMutexLock&) = delete;

 private:
  ZpMutex& mutex_;
};

// A condition on the heap, waited on with a ZpMutex held exactly once.
// Wakeups may be spurious: callers re-test their condition in a loop.
class ZpCondition {
 public:
  ZpCondition();
  ~ZpCondition();
  ZpCondition(const ZpCondition&) = delete;
  ZpCondition& operator=(const ZpCondition&) = delete;

  int Signal();     // wakes at most one waiter; not remembered without one
  int Broadcast();  // wakes every waiter
  int Wait(ZpMutex& mutex);

  // Waits until (current whole second + seconds): the fraction of the
  // current second is dropped, so 0 seconds returns at once. True when woken
  // before the deadline; false on timeout or any error.
  bool TimedWait(ZpMutex& mutex, int seconds);

 private:
  pthread_cond_t* condition_;
};
