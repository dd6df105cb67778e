#include "mutex.h"

#include <sys/time.h>

#include <cstdlib>

#include "checked_alloc.h"

ZpMutex::ZpMutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

ZpMutex::~ZpMutex() { pthread_mutex_destroy(&mutex_); }

int ZpMutex::Lock() { return pthread_mutex_lock(&mutex_); }

bool ZpMutex::TryLock() { return pthread_mutex_trylock(&mutex_) == 0; }

int ZpMutex::Unlock() { return pthread_mutex_unlock(&mutex_); }

ZpCondition::ZpCondition()
    : condition_(static_cast<pthread_cond_t*>(ZpCheckedMalloc(sizeof(pthread_cond_t)))) {
  pthread_cond_init(condition_, nullptr);
}

ZpCondition::~ZpCondition() {
  pthread_cond_destroy(condition_);
  std::free(condition_);
}

int ZpCondition::Signal() { return pthread_cond_signal(condition_); }

int ZpCondition::Broadcast() { return pthread_cond_broadcast(condition_); }

int ZpCondition::Wait(ZpMutex& mutex) { return pthread_cond_wait(condition_, mutex.Native()); }

bool ZpCondition::TimedWait(ZpMutex& mutex, int seconds) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct timespec deadline;
  deadline.tv_sec = now.tv_sec + seconds;
  deadline.tv_nsec = 0;
  return pthread_cond_timedwait(condition_, mutex.Native(), &deadline) == 0;
}
