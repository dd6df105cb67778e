// libFuzzer target: arbitrary bytes as a scene stream through a tracker, over
// a small shot on disk (a TIFF texture, a shader, a procedural and a nested
// stream; relative names are taken against the working directory), then the
// listing and the conflict report of every kind. The scan must end, and
// nothing may touch memory that is not its own.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "conflict_report.h"
#include "dependency_listing.h"
#include "dependency_tracker.h"
#include "tool_options.h"

namespace {

std::string shotDirectory;
// Conflicts are reported both without roots and below a root of the shot.
ToolOptions* plainOptions;
ToolOptions* rootedOptions;

void WriteFile(const std::string& name, const std::string& contents) {
  std::string path = shotDirectory + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(contents.data(), 1, contents.size(), f);
  std::fclose(f);
}

void MakeShot() {
  char pattern[] = "/tmp/tracker_fuzz_XXXXXX";
  if (!mkdtemp(pattern)) std::abort();
  shotDirectory = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(shotDirectory, ignored);
  });
  for (const char* sub : {"/maps", "/shaders", "/procs"}) {
    std::string path = shotDirectory + sub;
    if (mkdir(path.c_str(), 0755) != 0) std::abort();
  }
  WriteFile("maps/wood.tif", std::string("II*\0\x08\0\0\0", 8));
  WriteFile("maps/wall.1001.tif", std::string("MM\0*\0\0\0\x08", 8));
  WriteFile("maps/plain.png", "not a tiff");
  WriteFile("shaders/wood.oso", "");
  WriteFile("procs/grass.lua", "");
  WriteFile("set.rib",
            "SetAttribute \"n\" \"map\" \"string\" 1 \"${RIBDIR}/maps/wood.tif\"\n"
            "Evaluate \"type\" \"string\" 1 \"vrxstream\" \"filename\" \"string\" 1 "
            "\"${RIBDIR}/set.rib\"\n");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeShot();
  // The listing and the conflict report go to standard output, which is of
  // no interest here; the fuzzer reports on standard error.
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  static std::string maps = shotDirectory + "/maps";
  static char program[] = "tracwell", root[] = "-r", input[] = "in.rib";
  static char* plain[] = {program, input, nullptr};
  static char* rooted[] = {program, root, maps.data(), input, nullptr};
  plainOptions = new ToolOptions(2, plain);
  rootedOptions = new ToolOptions(4, rooted);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name = shotDirectory + "/in.rib";
  DependencyTracker tracker(new RibFromBuffer(reinterpret_cast<const char*>(data), size),
                            name.c_str(), 0xFFFFFFFF);
  tracker.Scan();
  PrintTrackerListing(tracker, 0xFFFFFFFF);
  const ToolOptions& options = size % 2 ? *rootedOptions : *plainOptions;
  for (uint32_t kind = 1; kind <= 256; kind <<= 1) {
    ReportConflicts(tracker, static_cast<DependencyKind>(kind), options);
  }
  return 0;
}
