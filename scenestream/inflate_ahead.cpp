#include "inflate_ahead.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>

#include "crash_handler.h"

namespace {

// Helper threads running at once: a run scanning streams side by side, or
// streams nested deep in one another, must not make a thread per stream.
std::atomic<unsigned> running{0};

unsigned MostRunning() { return std::max(2u, std::thread::hardware_concurrency()); }

}  // namespace

std::unique_ptr<RibInflateAhead> RibInflateAhead::Start(Produce produce) {
  if (running.fetch_add(1) >= MostRunning()) {
    running.fetch_sub(1);
    return nullptr;
  }
  std::unique_ptr<RibInflateAhead> ahead(new RibInflateAhead(std::move(produce)));
  try {
    ahead->thread_ = std::thread(&RibInflateAhead::Run, ahead.get());
  } catch (const std::system_error&) {
    running.fetch_sub(1);
    return nullptr;
  }
  return ahead;
}

RibInflateAhead::RibInflateAhead(Produce produce) : produce_(std::move(produce)) {
  for (Block& block : blocks_) block.data.reset(new char[kBlockSize]);
}

RibInflateAhead::~RibInflateAhead() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  running.fetch_sub(1);
}

void RibInflateAhead::Run() {
  ZpPrepareThreadForCrashReports();
  int next = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || filled_ < kBlocks; });
      if (stopping_) return;
      next = (head_ + filled_) % kBlocks;
    }
    // The block is the producer's alone until it is counted as filled.
    Block& block = blocks_[next];
    int n = produce_(block.data.get(), kBlockSize);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (n > 0) {
        block.length = n;
        block.taken = 0;
        ++filled_;
      } else {
        ended_ = true;
      }
    }
    changed_.notify_all();
    if (n <= 0) return;
  }
}

int RibInflateAhead::Take(char* buf, int maxSize, int wanted) {
  int total = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (total < maxSize) {
    if (filled_ == 0) {
      if (ended_ || total >= wanted) break;
      changed_.wait(lock, [this] { return filled_ > 0 || ended_; });
      continue;
    }
    Block& block = blocks_[head_];
    int n = std::min(block.length - block.taken, maxSize - total);
    // The block stays the reader's while it is counted as filled.
    std::memcpy(buf + total, block.data.get() + block.taken, static_cast<size_t>(n));
    block.taken += n;
    total += n;
    if (block.taken == block.length) {
      head_ = (head_ + 1) % kBlocks;
      --filled_;
      changed_.notify_all();
    }
  }
  return total;
}
