#include "package_jobs.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// As deep as the main thread's stack usually is: a check scans streams,
// and nested streams recurse.
constexpr size_t kWorkerStack = size_t{8} << 20;

struct Message {
  FILE* to;
  std::string text;
};

struct JobState {
  std::vector<Message> said;
  bool done = false;  // guarded by Jobs::mutex
};

// The messages of the job running on this thread; null outside a job.
thread_local std::vector<Message>* heldMessages = nullptr;

struct Jobs {
  size_t count;
  const std::function<void(size_t)>* job;
  std::unique_ptr<JobState[]> states;
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable finished;
};

void* Work(void* cookie) {
  Jobs& jobs = *static_cast<Jobs*>(cookie);
  for (size_t i; (i = jobs.next.fetch_add(1)) < jobs.count;) {
    JobState& state = jobs.states[i];
    heldMessages = &state.said;
    (*jobs.job)(i);
    heldMessages = nullptr;
    {
      std::lock_guard<std::mutex> lock(jobs.mutex);
      state.done = true;
    }
    jobs.finished.notify_all();
  }
  return nullptr;
}

void Say(FILE* to, const char* format, va_list args) {
  if (!heldMessages) {
    std::vfprintf(to, format, args);
    return;
  }
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  std::string text(length > 0 ? size_t(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  heldMessages->push_back(Message{to, std::move(text)});
}

}  // namespace

bool InPackageJob() { return heldMessages != nullptr; }

void PackageNote(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Say(stdout, format, args);
  va_end(args);
}

void PackageWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Say(stderr, format, args);
  va_end(args);
}

void PackageWarningText(const std::string& text) {
  if (text.empty()) return;
  if (heldMessages) {
    heldMessages->push_back(Message{stderr, text});
  } else {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
}

void RunPackageJobs(size_t count, unsigned threads, const std::function<void(size_t)>& job) {
  if (threads > count) threads = unsigned(count);
  if (threads <= 1) {
    for (size_t i = 0; i < count; ++i) job(i);
    return;
  }
  Jobs jobs;
  jobs.count = count;
  jobs.job = &job;
  jobs.states.reset(new JobState[count]);
  std::vector<pthread_t> workers;
  for (unsigned t = 0; t < threads; ++t) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStack);
    pthread_t worker;
    int failed = pthread_create(&worker, &attributes, Work, &jobs);
    pthread_attr_destroy(&attributes);
    if (failed) break;  // fewer workers, or none: this thread works too
    workers.push_back(worker);
  }
  if (workers.empty()) Work(&jobs);
  // Each job's messages in turn, as soon as it and every job before it
  // have run.
  for (size_t i = 0; i < count; ++i) {
    JobState& state = jobs.states[i];
    {
      std::unique_lock<std::mutex> lock(jobs.mutex);
      jobs.finished.wait(lock, [&] { return state.done; });
    }
    for (const Message& message : state.said)
      std::fwrite(message.text.data(), 1, message.text.size(), message.to);
    std::vector<Message>().swap(state.said);
  }
  for (pthread_t worker : workers) pthread_join(worker, nullptr);
}
