#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <unordered_map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dependency_kind.h"
#include "dependency_set.h"
#include "existence_cache.h"
#include "hash_table.h"
#include "path_variables.h"
#include "rib_scanner.h"
#include "rib_source.h"

// Everything learnt from one scene stream: the string values of its
// SetAttribute, SetAttributeAtTime and Evaluate requests sorted into one set
// per dependency kind (nested streams included), and a map from each name as
// it stood in the stream, expanded, to the file found for it.
//
// The fields are public: the listing, the conflict report and the packaging
// read the tables directly once the scan is done. Declaration order is also
// construction and (reversed) destruction order.
class DependencyTracker {
 public:
  // Owns the source from here on (through its scanner). kindMask selects
  // which shaders, textures and output images are tracked.
  DependencyTracker(RibSource* source, const char* streamName, uint32_t kindMask);
  DependencyTracker(const DependencyTracker&) = delete;
  DependencyTracker& operator=(const DependencyTracker&) = delete;

  // Reads the whole stream, nested streams included, then releases the
  // scanner and with it the source: nothing reads them again, and a run
  // may hold thousands of trackers. Called once.
  void Scan();
  const char* Name() const;

  // Sorted iteration over one kind's table, in ascending bytewise order. The
  // empty string marks the end: First returns it for an empty table, Next
  // once the last entry has been passed. First with a value that is not one
  // of the nine kinds leaves the list as it was and restarts it.
  const std::string* First(DependencyKind kind);
  // visit(std::string_view) for the keys of one kind's table in the same
  // order, as views into the table; nothing for any other value. The
  // listing reads long tables this way, without a copy of every key.
  template <typename Visit>
  void ForEachSorted(DependencyKind kind, Visit visit) {
    if (DependencySet* table = KindTable(kind)) table->ForEachSorted(visit);
  }
  const std::string* Next();
  const std::string* Current() const;

  // The file recorded for a name, else for the name with ".oso" appended,
  // else the name itself.
  std::string ResolvedShaderPath(const std::string& text) const;

  // Request parsing.
  void ScanRequests();
  // The token's text, valid until the next token is read.
  const std::string& ReadString();
  void HandleSetAttribute();
  void HandleSetAttributeAtTime();
  void HandleEvaluate();
  void ParseParameterList(bool evaluateMode);
  void HandleParameter(const std::string& parameterName);
  std::string ExpandedTokenText();
  // The same without a copy, valid until the next token is read or the next
  // call: the token's own text when it expands to itself, else its
  // expansion.
  std::string_view ExpandedTokenView();
  uint32_t NextToken();
  uint32_t PeekToken();
  void ReadImageArgument(bool texture);
  uint32_t ScanStringParameters();
  void SkipArrays(int n);

  // Classification. Every text is followed by a NUL, as the text of a
  // std::string or of an interned value is.
  void AddImage(std::string_view value, bool texture, bool requireTiff);
  void AddFoundTexture(const std::string& path, std::string_view value, bool requireTiff);
  void AddShader(const std::string& value);
  void AddProcedural(const std::string& name);
  void AddNestedStream(const std::string& path);

  bool trackShaders;
  bool trackTextures;
  bool trackOutputs;
  // Kept for the shader-header pass, which this scanner leaves out: it read
  // every shader file and kept nothing of it.
  bool scanShaderHeaders;
  std::string name;
  // The kind tables: sets of NUL-terminated paths.
  DependencySet textures;
  DependencySet outputs;
  DependencySet streams;
  DependencySet shaders;
  DependencySet procedurals;
  DependencySet missingTextures;
  DependencySet missingStreams;
  DependencySet missingShaders;
  DependencySet missingProcedurals;
  ZpTypedHash<const char> resolvedNames;
  // Consulted by stream rewriting; nothing in the scan adds to it.
  ZpHashTable packagePathValues;
  // The texture candidates holding "UDIM", expanded: a package names the
  // tiles of each as one set, so that the pattern still finds them there.
  ZpHashTable udimPatterns{32, 0.75f};
  std::vector<std::string> sortedList;
  size_t listCursor;
  std::string emptyEntry;
  uint32_t pendingToken;
  // Null once the scan has ended.
  std::unique_ptr<RibScanner> scanner;
  RibScanner* currentScanner;
  // Made when a value first needs it (a "$", or a relative name): most
  // streams name absolute paths only, and a run may hold thousands of
  // trackers.
  std::unique_ptr<ZpPathVariables> pathVariables;
  ZpPathVariables& PathVariables();

  // Nested streams below this many levels of nesting are recorded but not
  // read (with a warning), so that a pathological chain cannot exhaust the
  // stack.
  static constexpr size_t kMaxNestingDepth = 256;

  // False: nested streams are recorded but never read (the package's check
  // of a run that does not package them). Set before Scan.
  bool readsNestedStreams = true;
  // The nested-stream paths that were read: each route is read under the
  // first path met, and only that path's spellings of its names are
  // recorded.
  DependencySet readStreams;

 private:
  using FileIdentity = std::pair<dev_t, ino_t>;
  // A stream as one route reads it: the file, and the folder that gives its
  // "${RIBDIR}" (by identity: every spelling of one folder reads the same
  // files through it).
  struct StreamRoute {
    FileIdentity file;
    FileIdentity folder;
    bool operator<(const StreamRoute& other) const {
      return file != other.file ? file < other.file : folder < other.folder;
    }
    bool operator==(const StreamRoute& other) const {
      return file == other.file && folder == other.folder;
    }
  };

  DependencySet* KindTable(DependencyKind kind);
  // Never an empty key, and never a name that would break its listing line
  // (see Records).
  void Enter(DependencySet& table, std::string_view key);
  void EnterHashed(DependencySet& table, std::string_view key, uint32_t hash);
  void AddUdimTiles(std::string_view value, size_t marker, bool requireTiff);
  void SetResolvedName(std::string_view key, const std::string& path);
  // False for a name holding a line feed or a carriage return: printed, it
  // would forge listing lines of its own. Such names are left out of every
  // table, with one message per tracker naming the stream.
  bool Records(std::string_view name);
  // The route of a regular file; false, with a message, for anything else.
  bool IsReadableStream(const std::string& path, StreamRoute* route);
  bool AlreadyRead(const StreamRoute& route) const;
  // The route of the regular file at path, whose status is file.
  static StreamRoute StreamRouteOf(const std::string& path, const struct stat& file);
  void ReadNestedStream(const std::string& path, const StreamRoute& route);
  void RecordFoundStream(const std::string& path);
  void ScanNestedSource(RibSource* source, const std::string& path);

  // Where the current value's expansion is written when the path variables
  // need not keep it, and its normal form when it is not normal.
  std::string expansion;
  std::string normalSpelling;
  // Long strings of a stream's string table, with the ways (a bit each) they
  // have been classified. A two-byte reference brings such a string back,
  // and classifying it again would cost its whole length at every reference;
  // with the disk unchanged during the scan it would change no table either.
  // The entries are held, so that no later string takes the same address.
  struct ClassifiedTableString {
    std::shared_ptr<const std::string> text;
    uint8_t ways = 0;
  };
  std::unordered_map<const std::string*, ClassifiedTableString> classifiedTableStrings;
  static constexpr size_t kLongTableString = 64;
  static constexpr uint8_t kAsTexture = 1, kAsShader = 2, kAsOutput = 4, kAsProcedural = 8,
                           kAsStream = 16;
  // True when the current value is a long table string already classified
  // this way; otherwise remembers that it now is (when it is one).
  bool ClassifiedBefore(uint8_t way);
  // The same for a table string held from earlier in the request (null:
  // none).
  bool ClassifiedBefore(const std::shared_ptr<const std::string>& stored, uint8_t way);
  // The Evaluate file name and type of the parameter list being read.
  bool evaluateMode = false;
  std::string evaluateFileName;
  // The table string that gave the file name, when one did.
  std::shared_ptr<const std::string> evaluateFileNameString;
  std::string evaluateType;
  // The routes being read on the current nesting chain, outermost first
  // (the stream itself when it is a file), and the number of nested
  // streams read.
  std::vector<StreamRoute> nestingChain;
  size_t nestingDepth = 0;
  // The nested streams read to their end, by route: within one tracker a
  // stream is read once per folder that gives its "${RIBDIR}" (through
  // another folder it names other files), however many routes lead there.
  std::set<StreamRoute> streamsRead;
  bool lineBreakReported = false;
  // Per-scan memory of the disk: existence (made at the first test, let go
  // with the scan), and existing files that are not TIFF. With the disk
  // unchanged during the scan, a value classified again changes no table
  // (UDIM patterns, in udimPatterns, are not even tried again); these spare
  // the system calls of doing it.
  std::unique_ptr<ExistenceCache> existence;
  DependencySet nonTiffFiles;
  // The existence tests, told first whether the current scanner has read
  // input since the last test.
  ExistenceCache& Disk();
  const RibScanner* lastInputScanner = nullptr;
  uint64_t lastInputReads = 0;
};

// Messages of a scan. Streams are scanned side by side (stream_scans.h), so
// nothing that runs while a stream is read may write to standard error
// itself: every message goes through ScanMessage, which writes it at once
// when every earlier stream has been written and holds it until then
// otherwise. format and arguments as for printf; the text is the whole
// message, "tracwell: " and line feed included.
void ScanMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The scanners' error callback: writes "tracwell: <message>" to standard
// error for the first message of the whole run (in input order), whatever
// its severity, and ignores every later one but a fatal one, which ends the
// run and so is always printed. Outside a scan of StreamScans it returns,
// and the scanner ends the process; within one it does not return, and the
// run ends when the stream's turn comes.
void ReportFirstParseError(void* user, int severity, const char* message);

// True when the name holds a line feed or a carriage return.
bool HasLineBreak(std::string_view name);

// For a stream name about to be printed on a line of its own (the stream
// order, a packaging note): false, with the listing's message (the breaks
// shown as \n and \r), when it holds a line break and would forge lines.
bool MayPrintName(std::string_view name);

// While one lives, scans print no message of their own (a fatal one aside,
// which ends the run): the package's check reads streams and reports what
// it finds in its own words.
class QuietScans {
 public:
  QuietScans();
  ~QuietScans();
  QuietScans(const QuietScans&) = delete;
  QuietScans& operator=(const QuietScans&) = delete;
  static bool Active();

 private:
  bool wasActive_;
};

// True when the text after the last "." is one of the texture extensions,
// compared exactly.
bool HasTextureExtension(std::string_view value);

// True when the file's first four bytes are a TIFF or BigTIFF header in
// either byte order (or one of their byte reversals).
bool IsTiffFile(const char* path);
