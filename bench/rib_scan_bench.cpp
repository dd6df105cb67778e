// Scanner throughput beside `gzip -dc` on the same stream, measured in the
// same run. Each measurement runs in a child process, so its peak memory
// is its own.
//
//   rib_scan_bench [-r REPEAT] [-n RUNS] STREAM...
//
// For each STREAM (a plain file) with STREAM.gz beside it (gzip -6), prints
// the rate of `gzip -dc STREAM.gz`, of the scanner on STREAM and on
// STREAM.gz, in MB/s of uncompressed bytes, each scanner rate also as a
// ratio to gzip's. -r reads each file REPEAT times over as one stream (the
// gzip form as REPEAT concatenated members) to show that memory does not
// grow with the stream.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rib_scanner.h"

namespace {

// The file read `repeat` times over as one stream.
class RepeatedFile : public RibSource {
 public:
  RepeatedFile(const char* path, int repeat) : path_(path), left_(repeat) { Open(); }
  ~RepeatedFile() override {
    if (fd_ >= 0) close(fd_);
  }
  int Read(void* buf, int maxBytes) override {
    while (fd_ >= 0) {
      ssize_t n = read(fd_, buf, static_cast<size_t>(maxBytes));
      if (n != 0) return static_cast<int>(n);
      close(fd_);
      fd_ = -1;
      Open();
    }
    return 0;
  }

 private:
  void Open() {
    if (left_-- > 0) fd_ = open(path_, O_RDONLY | O_CLOEXEC);
  }
  const char* path_;
  int left_;
  int fd_ = -1;
};

void CountMessage(void* user, int, const char*) { ++*static_cast<long*>(user); }

// The client loop of the dependency scanner: every token, every string read.
void ScanAndExit(const char* path, int repeat) {
  long messages = 0, tokens = 0, bytes = 0;
  RibScanner scanner(new RepeatedFile(path, repeat), path, nullptr, CountMessage, &messages);
  for (int token; (token = scanner.NextToken()) != RibToken::End; ++tokens)
    if (token == RibToken::String) bytes += static_cast<long>(scanner.stringValue().size());
  if (messages) fprintf(stderr, "  %s: %ld messages\n", path, messages);
  _exit(tokens > 0 && bytes >= 0 ? 0 : 1);
}

void GunzipAndExit(const char* path, int repeat) {
  std::string command = "for i in $(seq " + std::to_string(repeat) + "); do cat '" + path +
                        "'; done | gzip -dc >/dev/null";
  if (repeat == 1) command = std::string("gzip -dc '") + path + "' >/dev/null";
  execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

struct Measure {
  double seconds;
  long peakKiB;
};

// Runs the function in a child; the wall time and the child's peak RSS.
Measure InChild(void (*run)(const char*, int), const char* path, int repeat) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) run(path, repeat);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fprintf(stderr, "  %s: child failed\n", path);
  return {seconds, usage.ru_maxrss};
}

Measure Best(void (*run)(const char*, int), const char* path, int repeat, int runs) {
  Measure best = InChild(run, path, repeat);
  for (int i = 1; i < runs; ++i) {
    Measure m = InChild(run, path, repeat);
    if (m.seconds < best.seconds) best.seconds = m.seconds;
    if (m.peakKiB > best.peakKiB) best.peakKiB = m.peakKiB;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1, runs = 3, first = 1;
  for (; first + 1 < argc && argv[first][0] == '-'; first += 2) {
    if (!strcmp(argv[first], "-r")) repeat = atoi(argv[first + 1]);
    if (!strcmp(argv[first], "-n")) runs = atoi(argv[first + 1]);
  }
  printf("%-28s %8s %10s %16s %16s %9s %9s\n", "stream", "MB", "gzip -dc", "plain", "gzip input",
         "plain RSS", "gzip RSS");
  for (int i = first; i < argc; ++i) {
    const char* plain = argv[i];
    std::string gz = std::string(plain) + ".gz";
    struct stat st;
    if (stat(plain, &st) != 0 || access(gz.c_str(), R_OK) != 0) {
      fprintf(stderr, "%s: needs the file and %s\n", plain, gz.c_str());
      continue;
    }
    double mb = static_cast<double>(st.st_size) * repeat / 1e6;
    Measure gunzip = Best(GunzipAndExit, gz.c_str(), repeat, runs);
    Measure ascii = Best(ScanAndExit, plain, repeat, runs);
    Measure inflated = Best(ScanAndExit, gz.c_str(), repeat, runs);
    double base = mb / gunzip.seconds;
    const char* name = strrchr(plain, '/') ? strrchr(plain, '/') + 1 : plain;
    printf("%-28s %8.0f %7.0f MB/s %6.0f MB/s %4.2fx %6.0f MB/s %4.2fx %6.1f MB %6.1f MB\n", name, mb, base,
           mb / ascii.seconds, mb / ascii.seconds / base, mb / inflated.seconds, mb / inflated.seconds / base,
           ascii.peakKiB / 1024.0, inflated.peakKiB / 1024.0);
    fflush(stdout);
  }
  return 0;
}
