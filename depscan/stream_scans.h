// The scans of a run's input streams. Streams are scanned side by side on
// up to a given number of threads (a tracker and its tables stay on the
// thread that scans it), yet the run reads as if they were scanned one after
// another in input order: what a scan prints (ScanMessage,
// ReportFirstParseError) is held until every earlier stream has been
// written, the first diagnostic of the run is the first in input order, and
// a scan that ends the run (a fatal scanner error, memory running out) ends
// it when its turn comes, after everything before it. In a listing run each
// stream's lines are made, and its tracker deleted, as soon as its turn
// comes; nothing reaches standard output before every stream is scanned.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "held_output.h"
#include "input_collection.h"

class DependencyTracker;

class StreamScans {
 public:
  // Opens and scans one stream; the tracker, or null when the stream could
  // not be opened.
  using Scan = std::function<DependencyTracker*()>;
  // Writes one stream's lines to the stream given.
  using Listing = std::function<void(DependencyTracker&, FILE*)>;

  // threads: 0 scans every stream on the calling thread. listing: null
  // keeps the trackers, in input order, for the caller (Trackers).
  StreamScans(unsigned threads, Listing listing);
  ~StreamScans();
  StreamScans(const StreamScans&) = delete;
  StreamScans& operator=(const StreamScans&) = delete;

  // The next stream, in input order. May wait while many streams before it
  // have not been written yet, so that what is held stays small.
  void Add(Scan scan);
  // Waits for every scan and writes what is left, in input order.
  void Finish();

  // The trackers of a run that keeps them, in input order.
  TrackerList& Trackers() { return trackers_; }

  // The worker threads a run may use: one per processor it may run on, as
  // far as the limit on open descriptors leaves room for their scans; 0
  // (streams scanned on the calling thread) for a single processor.
  static unsigned AvailableThreads();

  struct Job;

 private:
  static void* Work(void* self);
  void Run(Job* job);
  void StartWorkers();
  bool WriteHead(bool wait);
  void WaitFor(Job* job);
  void MarkDone(Job* job);
  void WriteLines(DependencyTracker* tracker, FILE* out);

  unsigned threads_;
  Listing listing_;
  size_t window_;
  // Guarded by mutex_: the jobs not yet written (in input order), those not
  // yet started, the workers.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Job>> jobs_;
  std::deque<Job*> pending_;
  std::vector<pthread_t> workers_;
  size_t idle_ = 0;
  bool stopping_ = false;
  TrackerList trackers_;
  HeldOutput held_;
};
