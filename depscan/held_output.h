// Standard output kept back: a listing run writes nothing before every
// input has been read, yet lets go of each stream's tracker as soon as its
// lines are made. The lines wait here, in memory up to a bound and beyond
// it in a temporary file, until they may be written.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

class HeldOutput {
 public:
  HeldOutput();
  ~HeldOutput();
  HeldOutput(const HeldOutput&) = delete;
  HeldOutput& operator=(const HeldOutput&) = delete;

  // Where the lines go until WriteTo; a stdio stream like any other.
  FILE* File() { return file_; }

  // Writes everything held to `out`, in the order it came; the held output
  // is empty afterwards.
  void WriteTo(FILE* out);

 private:
  static ssize_t Take(void* cookie, const char* bytes, size_t size);
  void Keep(const char* bytes, size_t size);
  bool Spill(const char* bytes, size_t size);

  FILE* file_ = nullptr;
  std::string memory_;
  // The temporary file and what it holds, which comes before memory_. Once
  // writing to it fails the rest stays in memory.
  FILE* spillFile_ = nullptr;
  bool spillFailed_ = false;
  size_t spilled_ = 0;
};
