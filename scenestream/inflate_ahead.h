// Decompression ahead of the scanner: a thread of its own runs a producer
// (the scanner's gzip step) into a few blocks while the scanner works on the
// bytes before them, so that inflating and scanning a gzip stream take the
// time of the slower of the two instead of their sum.
//
// The producer is called on the helper thread only, until it returns 0
// (the input is done, or failed: what it would have reported is the
// scanner's to say once every byte before it has been taken). The scanner
// must not touch the producer's state until Take has returned 0 or the
// object is gone.
#ifndef SCENESTREAM_INFLATE_AHEAD_H
#define SCENESTREAM_INFLATE_AHEAD_H

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class RibInflateAhead {
 public:
  // Fills buf with up to size bytes; 0 ends the production.
  using Produce = std::function<int(char* buf, int size)>;

  // A helper thread running `produce`, or null when none can be had (too
  // many run already, or no thread could be started): the caller then
  // produces on its own thread.
  static std::unique_ptr<RibInflateAhead> Start(Produce produce);

  // Stops the producer (after its current call) and waits for the thread.
  ~RibInflateAhead();
  RibInflateAhead(const RibInflateAhead&) = delete;
  RibInflateAhead& operator=(const RibInflateAhead&) = delete;

  // Copies up to maxSize produced bytes into buf, waiting until there are
  // at least `wanted` or production has ended. 0 once production has ended
  // and every byte has been taken; the producer's state is the caller's
  // from then on.
  int Take(char* buf, int maxSize, int wanted);

 private:
  static constexpr int kBlocks = 4;
  static constexpr int kBlockSize = 256 << 10;
  struct Block {
    std::unique_ptr<char[]> data;
    int length = 0;
    int taken = 0;
  };

  explicit RibInflateAhead(Produce produce);
  void Run();

  Produce produce_;
  Block blocks_[kBlocks];
  // Guarded by mutex_: blocks [head_, head_ + filled_) (modulo kBlocks)
  // hold bytes not yet taken.
  std::mutex mutex_;
  std::condition_variable changed_;
  int head_ = 0;
  int filled_ = 0;
  bool ended_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

#endif
