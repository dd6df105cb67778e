#include "program_flow.h"

#include <signal.h>
#include <tiffio.h>

#include <cstdio>

#include "conflict_report.h"
#include "crash_handler.h"
#include "dependency_listing.h"
#include "dependency_tracker.h"
#include "directories.h"
#include "env_strings.h"
#include "hash_table.h"
#include "input_collection.h"
#include "interruption.h"
#include "out_of_memory.h"
#include "package_copy.h"
#include "package_sources.h"
#include "packaged_names.h"
#include "rib_source.h"
#include "run_status.h"
#include "stream_order.h"
#include "stream_scans.h"
#include "tool_options.h"
#include "version.h"

const char kTracwellUsage[] =
    "\n"
    "Usage: tracwell [options] [<file>1 ... <file>N]\n"
    "  -package dir    : produces a self-contained package with all the provided VRX\n"
    "                    files and their dependencies.\n"
    "  -scale <scale>  : when packaging, scale textures by the specified [0..1] ratio\n"
    "                    to save space.\n"
    "  -binary         : package VRX files in binary format (default is ASCII).\n"
    "                    Binary VRX files are also compressed using gzip\n"
    "\n"
    "  -shaders        : track shaders\n"
    "  -textures       : track textures\n"
    "  -procedurals    : track procedurals\n"
    "  -all            : track all of the above (default)\n"
    "  -outputs        : show output images paths\n"
    "  -notfound       : show all resources that couldn't be found\n"
    "\n"
    "  -v              : output version to console.\n"
    "  -h              : output this help.\n"
    "\n"
    "The default behavior of this tool is to list files required for the proper\n"
    "rendering of the specified VRX(s). Each dependency will be prefixed by\n"
    "a character indicating its type:\n"
    "\n"
    "  t  Texture dependency (.tif, .exr, .jpg, ... )\n"
    "  s  Shader dependency (.oso file)\n"
    "  p  Procedural dependency (library or executable)\n"
    "  !  Unresolved dependency (could not find file)\n"
    "  o  Output images(s) produced by the VRX file\n"
    "  c  Conflicting dependencies. Indicates dependencies that have the same name\n"
    "     but different path, those are renamed with the -package option.\n"
    "\n"
    "Procedural are not executed. If procedurals are to be expanded, use:\n"
    "\n"
    "          vornex -callprocedurals ...\n"
    "\n"
    "If no file is specified, tracwell will read from standard input.\n";

void SilentTiffHandler(const char*, const char*, va_list) {}

namespace {

// Started with SIGCHLD ignored (some job runners and daemons leave it so),
// the system reaps our children behind our back and every wait for one
// fails: vornex and texmeld would seem to fail on every stream and texture.
void RestoreChildSignal() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);
}

// Finds or makes the package directory; false when neither works.
bool PreparePackageDirectory(const ToolOptions& options) {
  const char* directory = options.packageDir.c_str();
  if (!ZpIsDirectory(directory)) ZpMakeDirectory(directory);
  if (ZpIsDirectory(directory)) return true;
  std::fprintf(stderr, "unknown path: %s\n", directory);
  return false;
}

// Reads every input into its own tracker; returns the exit status so far.
int ReadInputs(int argc, char** argv, const ToolOptions& options, ZpHashTable& seenInputs,
               StreamScans& scans) {
  if (options.firstFileIndex == argc) {
    if (options.package) {
      std::fprintf(stderr, "kestrow: rewriting VRX from standard output is not supported\n");
      return 1;
    }
    scans.Add([&options] {
      NoteActivity("reading", "stdin");
      auto* tracker = new DependencyTracker(new RibFromFD(0), "stdin", options.kindMask);
      tracker->Scan();
      return tracker;
    });
    return 0;
  }
  for (int i = options.firstFileIndex; i < argc; ++i)
    AddInput(seenInputs, scans, options, argv[i], true);
  return 0;
}

// Per stream its listing, then its conflict groups.
void PrintListing(DependencyTracker& tracker, const ToolOptions& options, FILE* out) {
  static const DependencyKind kConflictKinds[] = {
      DependencyKind::Shader, DependencyKind::Texture, DependencyKind::Stream,
      DependencyKind::Procedural};
  NoteActivity("writing the listing of", tracker.Name());
  PrintTrackerListing(tracker, options.kindMask, out);
  for (DependencyKind kind : kConflictKinds) ReportConflicts(tracker, kind, options, out);
}

// The output phase of a package or the stream order: the linked stream
// nodes in place of the listing. Returns the exit status so far.
int WriteOutput(const TrackerList& trackers, ToolOptions& options,
                std::vector<StreamNode*>& streamNodes, ZpHashTable& producedNames) {
  for (DependencyTracker* tracker : trackers) streamNodes.push_back(new StreamNode(tracker, options));
  LinkAllStreamNodes(streamNodes, producedNames);
  if (options.package) {
    // A package in the folder of the shot would write over it, and could
    // never be moved: refused before anything is written.
    if (PackageHoldsASource(trackers, options)) return 1;
    NoteActivity("building the package in", options.packageDir.c_str());
    BuildPackage(options, trackers, producedNames);
  } else if (options.order) {
    PrintStreamOrder(streamNodes);
  }
  return 0;
}

// A listing that could not be written whole (a full disk, say) must not pass
// for a complete one.
int FinishOutput(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "tracwell: cannot write the output (system error: %s)\n",
               ZpLastErrorText());
  return status == 0 ? 1 : status;
}

}  // namespace

int RunTracwell(int argc, char** argv) {
  RestoreChildSignal();
  ZpInstallCrashHandler();
  ZpInstallInterruptHandler("tracwell: interrupted");
  InstallOutOfMemoryHandler();
  TIFFSetErrorHandler(SilentTiffHandler);
  TIFFSetWarningHandler(SilentTiffHandler);
  ToolOptions options(argc, argv);
  if (options.showHelp) {
    std::printf("%s", kTracwellUsage);
    return FinishOutput(0);
  }
  if (options.showVersion) {
    std::fprintf(stderr, "tracwell version %s.\n%s\n", ZpVersionString(), ZpNoticeString());
    return 0;
  }
  if (options.package && !PreparePackageDirectory(options)) return 1;

  PackagedNameTable.ownsValues = true;

  ZpHashTable seenInputs(32, 0.75f);
  ZpHashTable producedNames(32, 0.75f);
  std::vector<StreamNode*> streamNodes;
  // A listing run writes each stream's lines as soon as it may, and lets
  // its tracker go; a package or the stream order needs them all.
  bool useNodes = options.package || options.order;
  StreamScans::Listing listing;
  if (!useNodes) {
    listing = [&options](DependencyTracker& tracker, FILE* out) {
      PrintListing(tracker, options, out);
    };
  }
  StreamScans scans(StreamScans::AvailableThreads(), listing);
  int status = ReadInputs(argc, argv, options, seenInputs, scans);
  scans.Finish();
  TrackerList& trackers = scans.Trackers();
  if (status == 0 && useNodes) status = WriteOutput(trackers, options, streamNodes, producedNames);

  for (DependencyTracker* tracker : trackers) delete tracker;
  for (StreamNode* node : streamNodes) delete node;
  // Work that could not be done ends the run with status 1 (what the shot
  // itself lacks does not).
  if (status == 0) status = FailedWorkStatus();
  return FinishOutput(status);
}
