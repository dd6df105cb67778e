// Tracker throughput: one synthetic stream of distinct texture paths, half of
// them existing TIFF files, scanned once by the bare scanner loop and once by
// a DependencyTracker. Two sizes show whether the cost per request stays
// flat (linear) as the stream grows.
//
// Usage: tracker_bench [requests]   (default 200000; also runs a quarter of it)

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "dependency_tracker.h"
#include "rib_scanner.h"
#include "rib_source.h"

namespace {

constexpr int kFilesPerDirectory = 1000;

std::string TexturePath(const std::string& root, int i) {
  return root + "/d" + std::to_string(i / kFilesPerDirectory) + "/tex" + std::to_string(i) +
         ".tif";
}

// Every even-numbered texture exists as a small TIFF file.
void WriteTextures(const std::string& root, int count) {
  for (int i = 0; i < count; i += 2) {
    if (i % kFilesPerDirectory == 0) {
      std::filesystem::create_directories(root + "/d" + std::to_string(i / kFilesPerDirectory));
    }
    std::ofstream(TexturePath(root, i), std::ios::binary).write("II*\0\x08\0\0\0", 8);
  }
}

std::string WriteStream(const std::string& root, int count) {
  std::string path = root + "/scene" + std::to_string(count) + ".rib";
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < count; ++i) {
    out << "SetAttribute \"material" << i << "\" \"texturename\" \"string\" 1 \""
        << TexturePath(root, i) << "\"\n";
  }
  return path;
}

void IgnoreMessage(void*, int, const char*) {}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Measure(const std::string& root, int count) {
  std::string stream = WriteStream(root, count);
  double megabytes = std::filesystem::file_size(stream) / 1e6;

  auto start = std::chrono::steady_clock::now();
  {
    RibScanner scanner(new RibFromFile(stream.c_str()), stream.c_str(), nullptr, IgnoreMessage,
                       nullptr);
    while (scanner.NextToken() != 0) {
    }
  }
  double scanSeconds = Seconds(start);

  start = std::chrono::steady_clock::now();
  DependencyTracker tracker(new RibFromFile(stream.c_str()), stream.c_str(), 0xFFFFFFFF);
  tracker.Scan();
  double trackSeconds = Seconds(start);

  printf("%7d requests, %6.1f MB: scanner %8.0f requests/s (%6.1f MB/s), "
         "tracker %8.0f requests/s, %.2f us/request; found %u, missing %u\n",
         count, megabytes, count / scanSeconds, megabytes / scanSeconds, count / trackSeconds,
         trackSeconds * 1e6 / count, tracker.textures.Size(), tracker.missingTextures.Size());
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? atoi(argv[1]) : 200000;
  if (count < 4) count = 4;
  char pattern[] = "/tmp/tracker_bench_XXXXXX";
  if (!mkdtemp(pattern)) {
    perror("tracker_bench: mkdtemp");
    return 1;
  }
  std::string root = pattern;
  WriteTextures(root, count);
  Measure(root, count / 4);
  Measure(root, count);
  std::filesystem::remove_all(root);
  return 0;
}
