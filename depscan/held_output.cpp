#include "held_output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "file_utils.h"

namespace {

// Lines beyond this wait in a temporary file.
constexpr size_t kMemoryBound = size_t{64} << 20;
constexpr size_t kCopyBlock = size_t{1} << 20;

// All of it, or false.
bool WriteAll(int fd, const char* bytes, size_t size, size_t* written) {
  *written = 0;
  while (*written < size) {
    ssize_t n = write(fd, bytes + *written, size - *written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    *written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

HeldOutput::HeldOutput() {
  cookie_io_functions_t functions = {};
  functions.write = Take;
  file_ = fopencookie(this, "w", functions);
}

HeldOutput::~HeldOutput() {
  if (file_) fclose(file_);
  if (spillFile_) fclose(spillFile_);
}

ssize_t HeldOutput::Take(void* cookie, const char* bytes, size_t size) {
  static_cast<HeldOutput*>(cookie)->Keep(bytes, size);
  return static_cast<ssize_t>(size);
}

void HeldOutput::Keep(const char* bytes, size_t size) {
  if (!spillFailed_ && memory_.size() + size > kMemoryBound && Spill(bytes, size)) return;
  memory_.append(bytes, size);
}

// Moves what memory holds, then the new bytes, to the temporary file; false
// (with what could not be written back in memory) when that fails, and
// from then on everything stays in memory.
bool HeldOutput::Spill(const char* bytes, size_t size) {
  if (!spillFile_) {
    spillFile_ = ZpTemporaryFile();
    if (!spillFile_) {
      spillFailed_ = true;
      return false;
    }
  }
  int fd = fileno(spillFile_);
  size_t written = 0;
  bool whole = WriteAll(fd, memory_.data(), memory_.size(), &written);
  spilled_ += written;
  memory_.erase(0, written);
  if (whole) {
    whole = WriteAll(fd, bytes, size, &written);
    spilled_ += written;
    if (whole) return true;
    memory_.append(bytes + written, size - written);
  } else {
    memory_.append(bytes, size);
  }
  spillFailed_ = true;
  return true;  // kept, in memory
}

void HeldOutput::WriteTo(FILE* out) {
  if (!file_) return;
  fflush(file_);
  if (spillFile_) {
    int fd = fileno(spillFile_);
    std::vector<char> block(kCopyBlock);
    for (off_t at = 0; static_cast<size_t>(at) < spilled_;) {
      size_t want = std::min(kCopyBlock, spilled_ - static_cast<size_t>(at));
      ssize_t n = pread(fd, block.data(), want, at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the file lost what it held: nothing better can be done
      fwrite(block.data(), 1, static_cast<size_t>(n), out);
      at += n;
    }
    fclose(spillFile_);
    spillFile_ = nullptr;
    spilled_ = 0;
  }
  fwrite(memory_.data(), 1, memory_.size(), out);
  std::string().swap(memory_);
  spillFailed_ = false;
}
