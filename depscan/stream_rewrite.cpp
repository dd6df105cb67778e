#include "stream_rewrite.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>

#include <cstring>
#include <memory>
#include <mutex>

#include "dependency_tracker.h"
#include "file_utils.h"
#include "package_folder.h"
#include "package_jobs.h"
#include "package_sources.h"
#include "package_writer.h"
#include "packaged_names.h"
#include "process.h"
#include "produced_textures.h"
#include "reference_finder.h"
#include "run_status.h"
#include "relative_path.h"
#include "stream_strings.h"
#include "tool_options.h"

namespace {

const char kPackagePathReplacement[] = "&:.:${VRXDIR}";

bool Holds(const ZpHashTable& set, const std::string& key) {
  uint64_t unused;
  return set.Find(key.c_str(), uint32_t(key.size() + 1), &unused);
}

void Enter(ZpHashTable& set, const void* key, uint32_t length) {
  set.Insert(key, length, 0);
}

// Replacement text escaped so that the stream reads back exactly this name.
// (A stream's output is written by one thread only: no locking.)
void WriteEscaped(const std::string& text, FILE* out) {
  for (char c : text) {
    if (c == '"' || c == '\\') fputc_unlocked('\\', out);
    fputc_unlocked(c, out);
  }
}

void WriteRaw(const std::string& text, FILE* out) { fwrite_unlocked(text.data(), 1, text.size(), out); }

bool EndsWith(const std::string& text, const char* suffix) {
  size_t length = std::strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

class StringRewriter : public StringSink {
 public:
  explicit StringRewriter(const StringRewriteSettings& settings)
      : settings_(settings),
        tracker_(settings.tracker),
        finder_(settings.tracker, settings.changedPaths, settings.streamName) {}

  void WriteString(const std::string& raw, bool fileName, FILE* out) override {
    std::string text = tracker_.packagePathValues.count && Holds(tracker_.packagePathValues, raw)
                           ? kPackagePathReplacement
                           : raw;
    std::string key = finder_.Find(text, fileName);
    if (key.empty() || IsLeftOut(key)) return WriteRaw(text, out);
    WriteEscaped(Replacement(key), out);
  }

 private:
  static std::string PackagedReference(const std::string& path) {
    uint64_t value;
    if (!PackagedNameTable.Find(path.c_str(), &value)) return std::string();
    return reinterpret_cast<const char*>(value);
  }

  // A reference as the reader resolves it from the stream's own folder:
  // "${VRXDIR}" is that folder, which may lie below the package directory.
  std::string FromStreamFolder(const std::string& reference) const {
    std::string climb;
    for (int i = 0; i < settings_.depth; ++i) climb += "../";
    return std::string(kPackageDirPrefix) + climb + reference.substr(sizeof kPackageDirPrefix - 1);
  }

  // A nested stream that could not be written has no name: references to
  // it stay as the shot has them.
  bool IsLeftOut(const std::string& key) const {
    std::string path = tracker_.ResolvedShaderPath(key);
    return tracker_.streams.Contains(path) && PackagedReference(path).empty();
  }

  std::string ProducedName(const std::string& path) const {
    bool found = tracker_.textures.Contains(path);
    if (!found && !tracker_.missingTextures.Contains(path)) return std::string();
    return ProducedTextureName(path, found, settings_.options, settings_.producedNames);
  }

  std::string Replacement(const std::string& key) const {
    std::string pattern = PackagedPattern(key);
    if (!pattern.empty()) return FromStreamFolder(pattern);
    std::string path = tracker_.ResolvedShaderPath(key);
    // A texture another stream renders: named as that stream writes it.
    std::string produced = ProducedName(path);
    if (!produced.empty()) return produced;
    // Output images are written where the render runs, never into the
    // package, also when another stream reads them as textures.
    std::string reference = tracker_.outputs.Contains(path) ? "" : PackagedReference(path);
    if (reference.empty()) return SplitRelativePath(settings_.options, path);
    // The renderer puts ".oso" back on shaders only: a procedural or a
    // nested stream whose name ends so keeps it.
    if (reference.size() >= 5 && EndsWith(reference, ".oso") && tracker_.shaders.Contains(path))
      reference.resize(reference.size() - 4);
    return FromStreamFolder(reference);
  }

  const StringRewriteSettings& settings_;
  DependencyTracker& tracker_;
  ReferenceFinder finder_;
};


// A texture that another stream of the package renders, not there yet, is
// still written as that stream's output image is.
void ListProducedTextures(DependencyTracker& tracker, const ToolOptions& options,
                          const ZpHashTable& producedNames, ZpHashTable& changed) {
  for (const std::string* path = tracker.First(MissingTexture); !path->empty();
       path = tracker.Next()) {
    if (Holds(changed, *path) || ProducedTextureName(*path, false, options, producedNames).empty())
      continue;
    if (options.verbose) PackageNote("%s\n", path->c_str());
    Enter(changed, path->c_str(), uint32_t(path->size() + 1));
  }
}

// Only the kinds the package holds change: with -textures, say, nested
// streams are neither copied nor rewritten, so references to them stay.
ZpHashTable* ChangedPaths(DependencyTracker& tracker, const ToolOptions& options,
                          const ZpHashTable& producedNames) {
  auto* changed = new ZpHashTable(32, 0.75f);
  if (options.verbose) PackageNote("\n#Changing path or name for:\n\n");
  ListChangedFiles(Output, tracker, options.verbose, *changed);
  if (options.package) {
    for (DependencyKind kind : {Shader, Texture, Stream, Procedural})
      if (options.kindMask & kind) ListChangedFiles(kind, tracker, options.verbose, *changed);
    ListProducedTextures(tracker, options, producedNames, *changed);
  }
  ZpHashTable::Iterator it = {&tracker.packagePathValues, 0, nullptr, nullptr};
  it.current = tracker.packagePathValues.Next(&it.bucket, &it.next);
  while (it.current) {
    Enter(*changed, it.Key(), it.KeyLength());
    it.current = tracker.packagePathValues.Next(&it.bucket, &it.next);
  }
  return changed;
}

constexpr int kVornexNotFound = -2;
constexpr size_t kOutputBuffer = size_t{1} << 18;

// How a vornex child ended, from a ZpWaitProcess code (-1: never started).
std::string VornexFailure(int status) {
  if (status == kVornexNotFound) return "vornex was not found";
  if (status < 0) return "could not start vornex";
  if (status >= 1000 && status < 2000)
    return "vornex killed by signal " + std::to_string(status - 1000);
  return "vornex exit status " + std::to_string(status);
}

// The same from the wait status of a shell command.
std::string CommandFailure(int waitStatus) {
  if (WIFEXITED(waitStatus)) return VornexFailure(WEXITSTATUS(waitStatus));
  if (WIFSIGNALED(waitStatus)) return VornexFailure(1000 + WTERMSIG(waitStatus));
  return VornexFailure(-1);
}

// A writing command that dies early must not take tracwell with it: its
// broken pipe shows as a failed write and a failed close instead. Several
// streams may be written at once: SIGPIPE is ignored while any of them is
// written, and its handling restored after the last.
std::mutex brokenPipesLock;
int brokenPipesIgnored = 0;
struct sigaction savedPipeAction = {};

void IgnoreBrokenPipes() {
  std::lock_guard<std::mutex> lock(brokenPipesLock);
  if (brokenPipesIgnored++ > 0) return;
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &savedPipeAction);
}

void RestoreBrokenPipes() {
  std::lock_guard<std::mutex> lock(brokenPipesLock);
  if (--brokenPipesIgnored == 0) sigaction(SIGPIPE, &savedPipeAction, nullptr);
}

// The writing side: a temporary file of the package folder, written
// directly, gzip-compressed, or with -binary by the "vornex" command that
// writes the binary encoding into it; the file takes its packaged name only
// when it is whole (Close).
class StreamOutput {
 public:
  enum Form { kAscii, kBinary, kGzipAscii };
  StreamOutput(const ToolOptions& options, const std::string& name,
               const std::string& destination, Form form)
      : destination_(destination), vornexSaid_(form == kBinary && InPackageJob()) {
    const PackageDirectory* package = RunPackage(options);
    std::string leaf, error;
    if (package) folder_ = package->FolderFor(name, &leaf, &error);
    if (folder_) file_ = PackageFile::Create(*folder_, leaf, &error);
    if (file_ && form == kBinary) {
      std::string command =
          "vornex -cat -q -binary -gzip > " + ZpShellQuote(file_->TemporaryPath().c_str());
      IgnoreBrokenPipes();
      out_ = ZpOpenPipe(command.c_str(), "wb", vornexSaid_.fd());
      pipe_ = out_ != nullptr;
      if (!pipe_) RestoreBrokenPipes();
    }
    if (file_ && !out_) {
      if (form == kGzipAscii) {
        int copy = fcntl(file_->fd(), F_DUPFD_CLOEXEC, 0);
        out_ = copy < 0 ? nullptr : OpenGzipDescriptor(copy, "wb");
        ownsStream_ = out_ != nullptr;
      } else {
        out_ = file_->Stream();
      }
    }
    // Rewriting writes many short pieces: a large buffer makes few writes.
    if (out_) std::setvbuf(out_, nullptr, _IOFBF, kOutputBuffer);
    if (!out_) {
      PackageWarning("#Cannot write or create file '%s'\n", destination.c_str());
      MarkPackageIncomplete();
      file_.reset();
    }
  }

  ~StreamOutput() {
    if (out_) Discard();
  }

  FILE* file() const { return out_; }

  // Closes the output and gives the file its name; false, with a message,
  // when a write or the writing command failed (a full disk, say), so that
  // no cut-off stream passes. Whatever had the name stays as it was then.
  bool Close() {
    bool writeFailed = std::ferror(out_) != 0;
    int status = 0;
    if (pipe_) {
      status = ZpClosePipe(out_);
      RestoreBrokenPipes();
      PackageWarningText(vornexSaid_.Text());
    } else if (ownsStream_) {
      writeFailed = std::fclose(out_) != 0 || writeFailed;
    }
    out_ = nullptr;
    bool committed = status == 0 && !writeFailed && file_->Commit();
    if (!committed) file_->Abort();
    if (status != 0)
      PackageWarning("\n#Could not write '%s' through vornex (%s)\n\n",
                   destination_.c_str(), CommandFailure(status).c_str());
    else if (!committed)
      PackageWarning("\n#Could not write '%s'\n\n", destination_.c_str());
    if (!committed) MarkPackageIncomplete();
    return committed;
  }

  // Ends the output without a word and leaves the package as it was: what
  // was read is not the whole stream.
  void Discard() {
    if (pipe_) {
      ZpClosePipe(out_);
      RestoreBrokenPipes();
      PackageWarningText(vornexSaid_.Text());
    } else if (ownsStream_) {
      std::fclose(out_);
    }
    out_ = nullptr;
    file_->Abort();
  }

 private:
  std::string destination_;
  // Streams written side by side keep what their vornex says with their
  // own messages.
  ZpCapturedOutput vornexSaid_;
  std::unique_ptr<PackageDirectory> folder_;
  std::unique_ptr<PackageFile> file_;
  FILE* out_ = nullptr;
  bool pipe_ = false;
  bool ownsStream_ = false;
};

// One stream on its way into the package.
struct StreamJob {
  StringRewriteSettings settings;
  const char* name;
  std::string packagedName;
  std::string destination;  // the packaged name in the package folder, for messages
};

// Rewrites the stream file itself, without "vornex", read through zlib
// (which reads a plain file as it is): only sound for ASCII text, and
// written as plain text, since the vornex that would write the binary
// encoding is the one that just failed; a gzip stream stays gzip-compressed.
void RewriteFromFile(const StreamJob& job, AsciiForm form) {
  FILE* in = OpenGzipFile(job.name, "rb");
  if (!in) {
    PackageWarning("\n#Could not read '%s'\n\n", job.name);
    MarkPackageIncomplete();
    return;
  }
  StreamOutput out(job.settings.options, job.packagedName, job.destination,
                   form == AsciiForm::Gzip ? StreamOutput::kGzipAscii : StreamOutput::kAscii);
  if (out.file()) {
    RewriteStrings(in, out.file(), job.settings);
    if (std::ferror(in)) {
      out.Discard();
      PackageWarning("\n#Could not read '%s'\n\n", job.name);
      MarkPackageIncomplete();
    } else {
      out.Close();
    }
  }
  std::fclose(in);
}

// "vornex" could not deliver the stream: says so, and rewrites the file
// itself when it is ASCII text (plain or gzip-compressed), else leaves the
// stream out rather than writing a stream that silently lacks content.
void RecoverFromVornex(const StreamJob& job, int status) {
  AsciiForm form = AsciiFormOf(job.name);
  const char* action = form == AsciiForm::Plain  ? "rewriting it as plain text"
                       : form == AsciiForm::Gzip ? "rewriting it as plain text, gzip-compressed"
                                                 : "left out of the package";
  PackageWarning("\n#Could not read '%s' through vornex (%s): %s\n\n", job.name,
               VornexFailure(status).c_str(), action);
  if (form != AsciiForm::None) return RewriteFromFile(job, form);
  RemoveFromRunPackage(job.settings.options, job.packagedName);
  MarkPackageIncomplete();
}

void RewriteThroughVornex(const StreamJob& job) {
  if (!VornexIsOnPath()) return RecoverFromVornex(job, kVornexNotFound);
  // A name that begins with "-" would reach vornex as an option.
  std::string word = ProgramArgument(job.name);
  const char* const args[] = {"-cat", "-noheader", "-q", word.c_str(), nullptr};
  FILE* in = nullptr;
  // Streams read side by side keep what their vornex says with their own
  // messages, where it would have come had they been read one by one.
  ZpCapturedOutput said(InPackageJob());
  int64_t pid = ZpSpawnProcess(nullptr, &in, nullptr, false, "vornex", args, said.fd());
  if (pid == 0 || !in) return RecoverFromVornex(job, -1);
  // A larger pipe lets vornex write on while a block is rewritten, with
  // fewer wake-ups of either side; the default size still works.
  fcntl(fileno(in), F_SETPIPE_SZ, 1 << 20);
  // A vornex that delivers nothing may have failed to start: no writing
  // command is begun for it, whose own failure would only confuse.
  int first = std::getc(in);
  int status = 0;
  if (first == EOF) {
    std::fclose(in);
    in = nullptr;
    status = ZpWaitProcess(int(pid));
    PackageWarningText(said.Text());
    if (status != 0) return RecoverFromVornex(job, status);
  } else {
    std::ungetc(first, in);
  }
  StreamOutput out(job.settings.options, job.packagedName, job.destination,
                   job.settings.options.binary ? StreamOutput::kBinary : StreamOutput::kAscii);
  if (in) {
    if (out.file()) RewriteStrings(in, out.file(), job.settings);
    std::fclose(in);
    status = ZpWaitProcess(int(pid));
    PackageWarningText(said.Text());
  }
  if (!out.file()) return;
  // What a failed vornex delivered is no whole stream: it never takes the
  // packaged name, and the file is rewritten another way.
  if (status != 0) {
    out.Discard();
    return RecoverFromVornex(job, status);
  }
  out.Close();
}

// gzFile as a stdio stream, so that the string-by-string copy reads and
// writes gzip as it reads and writes plain files.
ssize_t GzipRead(void* file, char* buffer, size_t size) {
  int n = gzread(static_cast<gzFile>(file), buffer, unsigned(std::min<size_t>(size, 1 << 30)));
  return n < 0 ? -1 : n;
}

ssize_t GzipWrite(void* file, const char* buffer, size_t size) {
  int n = gzwrite(static_cast<gzFile>(file), buffer, unsigned(std::min<size_t>(size, 1 << 30)));
  return n <= 0 && size > 0 ? -1 : n;
}

int GzipClose(void* file) { return gzclose(static_cast<gzFile>(file)) == Z_OK ? 0 : -1; }

}  // namespace

FILE* OpenGzipFile(const std::string& path, const char* mode) {
  bool writing = mode[0] == 'w';
  int fd = writing ? open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                   : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  return OpenGzipDescriptor(fd, mode);
}

FILE* OpenGzipDescriptor(int fd, const char* mode) {
  bool writing = mode[0] == 'w';
  gzFile gz = gzdopen(fd, mode);
  if (!gz) {
    close(fd);
    return nullptr;
  }
  cookie_io_functions_t functions = {};
  if (writing)
    functions.write = GzipWrite;
  else
    functions.read = GzipRead;
  functions.close = GzipClose;
  FILE* file = fopencookie(gz, mode, functions);
  if (!file) gzclose(gz);
  return file;
}

std::string PackagedFileName(const char* name, const ToolOptions& options) {
  std::string file = PackagedName(name);
  return file.empty() ? SplitRelativePath(options, name) : file;
}

std::string ProgramArgument(const std::string& path) {
  return !path.empty() && path[0] == '-' ? "./" + path : path;
}

bool VornexIsOnPath() {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  for (size_t start = 0;;) {
    size_t end = folders.find(':', start);
    std::string folder = folders.substr(start, end == std::string::npos ? end : end - start);
    std::string program = (folder.empty() ? "." : folder) + "/vornex";
    struct stat info;
    if (stat(program.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(program.c_str(), X_OK) == 0)
      return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

bool StreamCanBeWritten(DependencyTracker& tracker, const std::string& path,
                        const ToolOptions& options) {
  // One that cannot be read at all is reported when it is written.
  if (VornexIsOnPath() || !ZpFileExists(path.c_str()) || AsciiFormOf(path.c_str()) != AsciiForm::None)
    return true;
  // An unchanged stream is copied as it is. (The tracker's lists are not
  // touched: a caller may be walking one.)
  if (tracker.outputs.Size() || tracker.missingTextures.Size()) return false;
  return !(((options.kindMask & Shader) && tracker.shaders.Size()) ||
           ((options.kindMask & Texture) && tracker.textures.Size()) ||
           ((options.kindMask & Stream) && tracker.streams.Size()) ||
           ((options.kindMask & Procedural) && tracker.procedurals.Size()));
}

void RewriteStrings(FILE* in, FILE* out, const StringRewriteSettings& settings) {
  StringRewriter rewriter(settings);
  CopyStreamStrings(in, out, rewriter);
}

void RewriteStream(DependencyTracker& tracker, const char* name, const ToolOptions& options,
                   const ZpHashTable& producedNames) {
  std::string file = PackagedFileName(name, options);
  std::string destination = PackagedPath(options, file);
  std::unique_ptr<ZpHashTable> changedPaths(ChangedPaths(tracker, options, producedNames));
  RunPackage(options);
  // A copy checks its destination itself.
  if (changedPaths->count == 0) {
    CopyIntoRunPackage(name, file, options);
    return;
  }
  if (!MayWritePackageFile(name, destination, OpenedPackagePath(options, file))) {
    MarkPackageIncomplete();
    return;
  }
  StreamJob job{{tracker, *changedPaths, options, producedNames, name, FolderDepth(file)},
                name,
                file,
                destination};
  RewriteThroughVornex(job);
}

int FolderDepth(const std::string& packagedName) {
  int depth = 0;
  size_t start = 0;
  for (size_t end; (end = packagedName.find_first_of("/\\", start)) != std::string::npos;
       start = end + 1) {
    std::string step = packagedName.substr(start, end - start);
    if (!step.empty() && step != ".") ++depth;
  }
  return depth;
}

AsciiForm AsciiFormOf(const char* path) {
  FILE* in = OpenGzipFile(path, "rb");
  if (!in) return AsciiForm::None;
  // zlib reads a file that is no gzip stream as it stands. Read in blocks:
  // a stream may be gigabytes long.
  constexpr size_t kBlock = size_t{1} << 16;
  std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock]);
  bool ascii = true, inString = false, inComment = false, escaped = false;
  for (size_t n; ascii && (n = std::fread(block.get(), 1, kBlock, in)) > 0;) {
    for (const unsigned char *c = block.get(), *end = c + n; c < end; ++c) {
      if (escaped) {
        escaped = false;
      } else if (inComment) {
        inComment = *c != '\n' && *c != '\r';
      } else if (inString) {
        if (*c == '\\') escaped = true;
        else if (*c == '"') inString = false;
      } else if (*c == '"') {
        inString = true;
      } else if (*c == '#') {
        inComment = true;
      } else if (*c >= 0x80) {
        ascii = false;
        break;
      }
    }
  }
  ascii = ascii && !std::ferror(in);
  std::fclose(in);
  if (!ascii) return AsciiForm::None;
  return IsGzipFile(path) ? AsciiForm::Gzip : AsciiForm::Plain;
}

bool IsPlainAsciiStream(const char* path) { return AsciiFormOf(path) == AsciiForm::Plain; }

bool IsGzipFile(const char* path) {
  FILE* in = std::fopen(path, "rb");
  if (!in) return false;
  int first = std::getc(in);
  int second = std::getc(in);
  std::fclose(in);
  return first == 0x1F && second == 0x8B;
}
