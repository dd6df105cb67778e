#include "stream_scans.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <new>

#include "crash_handler.h"
#include "dependency_tracker.h"
#include "out_of_memory.h"

namespace {

// Set once the first diagnostic of the run has been printed.
std::atomic<bool> diagnosticPrinted{false};

constexpr int kFatal = 3;
constexpr int kFatalStatus = 2;
constexpr int kOutOfMemoryStatus = 1;
// Scanned streams waiting for their turn, per thread.
constexpr size_t kWindowPerThread = 4;
// As deep as the main thread's stack usually is: nested streams recurse.
constexpr size_t kWorkerStack = size_t{8} << 20;
// Descriptors the run holds whatever its scans do (standard streams, the
// held output, the package folder), and those one scan is given.
constexpr rlim_t kSharedDescriptors = 16;
constexpr rlim_t kDescriptorsPerScan = 16;

thread_local StreamScans::Job* currentJob = nullptr;

std::mutex printing;

void Print(const char* text) {
  std::lock_guard<std::mutex> lock(printing);
  std::fputs(text, stderr);
}

void PrintPieces(const char* const* pieces) {
  std::lock_guard<std::mutex> lock(printing);
  for (int i = 0; i < 3; ++i) {
    if (pieces[i]) std::fputs(pieces[i], stderr);
  }
}

void PrintDiagnostic(const char* text) {
  if (!diagnosticPrinted.exchange(true)) Print(text);
}

// As the scanner's own exit would, once standard error holds everything
// before: output flushed, no clean-up (other threads may still be scanning).
[[noreturn]] void EndRun(int status) {
  std::fflush(stderr);
  std::fflush(stdout);
  _exit(status);
}

// A thread whose scan ended the run waits for the run to end at its turn.
[[noreturn]] void Park() {
  for (;;) pause();
}

}  // namespace

struct StreamScans::Job {
  enum Kind : uint8_t { kPlain, kDiagnostic };
  struct Message {
    std::string text;
    Kind kind;
  };

  StreamScans* scans = nullptr;
  Scan scan;
  DependencyTracker* tracker = nullptr;
  bool done = false;  // guarded by the scans' mutex

  // Guarded by mutex: what is held, and whether it has been written (then
  // messages are written as they come).
  std::mutex mutex;
  std::vector<Message> held;
  bool live = false;
  bool diagnosticHeld = false;
  // The run ends at this stream: the status, and the message that says why
  // (an out-of-memory line, or a fatal diagnostic), in pieces that outlive
  // the scan (nothing is allocated on the way).
  int endStatus = 0;
  const char* endLine[3] = {};

  void Say(std::string text, Kind kind) {
    std::lock_guard<std::mutex> lock(this->mutex);
    if (live) {
      if (kind == kDiagnostic) {
        PrintDiagnostic(text.c_str());
      } else {
        Print(text.c_str());
      }
      return;
    }
    if (kind == kDiagnostic) {
      // Only the first of a stream can be the first of the run.
      if (diagnosticHeld) return;
      diagnosticHeld = true;
    }
    held.push_back(Message{std::move(text), kind});
  }

  // Writes what is held; from here on messages are written as they come.
  void Release() {
    std::lock_guard<std::mutex> lock(this->mutex);
    if (live) return;
    live = true;
    for (const Message& message : held) {
      if (message.kind == kDiagnostic) {
        PrintDiagnostic(message.text.c_str());
      } else {
        Print(message.text.c_str());
      }
    }
    std::vector<Message>().swap(held);
    if (endStatus) {
      PrintPieces(endLine);
      EndRun(endStatus);
    }
  }

  // The scan ends the run here, with the message in pieces (null ones
  // left out), which must outlive the call; printed when the stream's turn
  // comes.
  [[noreturn]] void End(int status, const char* first, const char* second = nullptr,
                        const char* third = nullptr) {
    {
      std::lock_guard<std::mutex> lock(this->mutex);
      endStatus = status;
      endLine[0] = first;
      endLine[1] = second;
      endLine[2] = third;
      if (live) {
        PrintPieces(endLine);
        EndRun(status);
      }
    }
    scans->MarkDone(this);
    Park();
  }
};

void ScanMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  if (QuietScans::Active()) return;
  if (currentJob) {
    currentJob->Say(std::move(text), StreamScans::Job::kPlain);
  } else {
    Print(text.c_str());
  }
}

void ReportFirstParseError(void* /*user*/, int severity, const char* message) {
  if (currentJob && severity == kFatal) {
    // The scanner ends the process once this returns, so it does not
    // return: the message stays valid where it is.
    currentJob->End(kFatalStatus, "tracwell: ", message, "\n");
  }
  if (currentJob) {
    currentJob->Say(std::string("tracwell: ") + message + "\n", StreamScans::Job::kDiagnostic);
    return;
  }
  // A fatal message ends the run: it must be seen whatever came before.
  if (QuietScans::Active() && severity != kFatal) return;
  if (diagnosticPrinted.exchange(true) && severity != kFatal) return;
  std::lock_guard<std::mutex> lock(printing);
  std::fprintf(stderr, "tracwell: %s\n", message);
}

StreamScans::StreamScans(unsigned threads, Listing listing)
    : threads_(threads),
      listing_(std::move(listing)),
      window_(threads == 0 ? 1 : kWindowPerThread * threads) {}

StreamScans::~StreamScans() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (pthread_t worker : workers_) pthread_join(worker, nullptr);
  for (const auto& job : jobs_) delete job->tracker;
}

unsigned StreamScans::AvailableThreads() {
  unsigned processors = 1;
  cpu_set_t set;
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    processors = static_cast<unsigned>(CPU_COUNT(&set));
  } else if (online > 0) {
    processors = static_cast<unsigned>(online);
  }
  // Each scan holds descriptors of its own (its stream, the nested streams
  // it is inside, a folder being listed): under a low limit, scans side by
  // side must not take what one scan after another would have had.
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    rlim_t room = files.rlim_cur > kSharedDescriptors ? files.rlim_cur - kSharedDescriptors : 0;
    rlim_t fitting = room / kDescriptorsPerScan;
    if (fitting < processors) processors = static_cast<unsigned>(fitting);
  }
  // One processor gains nothing from a worker: the calling thread scans.
  return processors > 1 ? processors : 0;
}

void StreamScans::Add(Scan scan) {
  auto job = std::make_unique<Job>();
  job->scans = this;
  job->scan = std::move(scan);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(job.get());
    jobs_.push_back(std::move(job));
  }
  changed_.notify_one();
  // The first stream waits for a second one: a run of one stream needs no
  // thread.
  if (jobs_.size() > 1) StartWorkers();
  while (WriteHead(false)) {
  }
  while (jobs_.size() > window_ && WriteHead(true)) {
  }
}

void StreamScans::Finish() {
  if (!listing_) {
    while (WriteHead(true)) {
    }
    return;
  }
  // Every scan, in turn, its messages written as it comes; then every line,
  // straight to standard output.
  for (const auto& job : jobs_) {
    job->Release();
    WaitFor(job.get());
  }
  held_.WriteTo(stdout);
  while (!jobs_.empty()) {
    WriteLines(jobs_.front()->tracker, stdout);
    jobs_.pop_front();
  }
}

void StreamScans::StartWorkers() {
  std::lock_guard<std::mutex> lock(mutex_);
  while (workers_.size() < threads_ && pending_.size() > idle_) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStack);
    pthread_t worker;
    int failed = pthread_create(&worker, &attributes, Work, this);
    pthread_attr_destroy(&attributes);
    if (failed) return;  // the calling thread scans what the workers cannot
    workers_.push_back(worker);
    ++idle_;
  }
}

void* StreamScans::Work(void* self) {
  auto* scans = static_cast<StreamScans*>(self);
  ZpPrepareThreadForCrashReports();
  for (;;) {
    Job* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(scans->mutex_);
      scans->changed_.wait(lock, [&] { return scans->stopping_ || !scans->pending_.empty(); });
      if (scans->pending_.empty()) return nullptr;
      job = scans->pending_.front();
      scans->pending_.pop_front();
      --scans->idle_;
    }
    scans->Run(job);
    std::lock_guard<std::mutex> lock(scans->mutex_);
    ++scans->idle_;
  }
}

void StreamScans::Run(Job* job) {
  currentJob = job;
  ThrowOnExhaustion(true);
  try {
    job->tracker = job->scan();
    job->scan = nullptr;
  } catch (const std::bad_alloc&) {
    job->End(kOutOfMemoryStatus, OutOfMemoryMessage());
  }
  ThrowOnExhaustion(false);
  currentJob = nullptr;
  MarkDone(job);
}

void StreamScans::MarkDone(Job* job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job->done = true;
  }
  changed_.notify_all();
}

// Writes the first stream once it is scanned (waiting for that when `wait`
// is set, and scanning it here when no thread has taken it); false when
// there was nothing to write.
bool StreamScans::WriteHead(bool wait) {
  if (jobs_.empty()) return false;
  Job* head = jobs_.front().get();
  head->Release();
  if (!wait) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!head->done) return false;
  }
  WaitFor(head);
  if (listing_) {
    WriteLines(head->tracker, held_.File());
  } else if (head->tracker) {
    trackers_.push_back(head->tracker);
  }
  head->tracker = nullptr;
  jobs_.pop_front();
  return true;
}

// Waits until a stream that has been released is scanned, scanning it here
// when no thread has taken it yet (it is written as it goes, so whatever
// ends it ends the run from here).
void StreamScans::WaitFor(Job* job) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (job->done) return;
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (*it != job) continue;
    pending_.erase(it);
    lock.unlock();
    Run(job);
    return;
  }
  changed_.wait(lock, [&] { return job->done; });
}

void StreamScans::WriteLines(DependencyTracker* tracker, FILE* out) {
  if (!tracker) return;
  listing_(*tracker, out);
  delete tracker;
}
