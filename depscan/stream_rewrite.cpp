#include "stream_rewrite.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <memory>
#include <unordered_set>

#include "dependency_tracker.h"
#include "file_utils.h"
#include "package_sources.h"
#include "packaged_names.h"
#include "process.h"
#include "relative_path.h"
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

// The bytes of a quoted string as the reader decodes them, so that a name
// written with escapes is found under the name the tracker recorded.
std::string Unescaped(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c != '\\' || i + 1 == raw.size()) {
      text += c;
      continue;
    }
    char next = raw[++i];
    switch (next) {
      case '\n': break;
      case '\r': if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i; break;
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      case 't': text += '\t'; break;
      case 'b': text += '\b'; break;
      case 'f': text += '\f'; break;
      default:
        if (next >= '0' && next <= '7') {
          int value = next - '0';
          for (int digits = 1; digits < 3 && i + 1 < raw.size() && raw[i + 1] >= '0' &&
                               raw[i + 1] <= '7'; ++digits)
            value = value * 8 + (raw[++i] - '0');
          text += char(value & 0xFF);
        } else {
          text += next;
        }
    }
  }
  return text;
}

// Replacement text escaped so that the stream reads back exactly this name.
void WriteEscaped(const std::string& text, FILE* out) {
  for (char c : text) {
    if (c == '"' || c == '\\') std::fputc('\\', out);
    std::fputc(c, out);
  }
}

void WriteRaw(const std::string& text, FILE* out) { std::fwrite(text.data(), 1, text.size(), out); }

class StringRewriter {
 public:
  StringRewriter(DependencyTracker& tracker, const ZpHashTable& changedPaths,
                 const ToolOptions& options)
      : tracker_(tracker), changedPaths_(changedPaths), options_(options) {}

  // Writes the string read between two quotes, rewritten when it names a
  // changed path.
  void Write(std::string text, FILE* out) {
    if (Holds(tracker_.packagePathValues, text)) text = kPackagePathReplacement;
    std::string name = text;
    std::string resolved = tracker_.ResolvedShaderPath(name);
    if (!Holds(changedPaths_, resolved) && text.find('\\') != std::string::npos) {
      name = Unescaped(text);
      resolved = tracker_.ResolvedShaderPath(name);
    }
    // The tracker records names expanded (path variables replaced, relative
    // names made absolute): "tex/wood.tx" left as written would keep
    // pointing out of the package.
    if (!Holds(changedPaths_, resolved) && !name.empty()) {
      tracker_.pathVariables.Expand(name, true);
      resolved = tracker_.ResolvedShaderPath(name);
    }
    if (!Holds(changedPaths_, resolved)) return WriteRaw(text, out);
    std::string reference = PackagedReference(resolved);
    if (reference.empty()) return WriteEscaped(SplitRelativePath(options_, resolved), out);
    std::string tiles = UdimReference(name, resolved, reference);
    if (!tiles.empty()) return WriteEscaped(tiles, out);
    if (reference.size() >= 5 && reference.compare(reference.size() - 4, 4, ".oso") == 0)
      reference.resize(reference.size() - 4);
    WriteEscaped(reference, out);
  }

 private:
  static std::string PackagedReference(const std::string& path) {
    uint64_t value;
    if (!PackagedNameTable.Find(path.c_str(), &value)) return std::string();
    return reinterpret_cast<const char*>(value);
  }

  // Every "${VRXDIR}/<name>" that some file of the package holds.
  const std::unordered_set<std::string>& TakenReferences() {
    if (!takenReferences_) {
      takenReferences_.reset(new std::unordered_set<std::string>);
      ZpHashTable::Iterator it = {&PackagedNameTable, 0, nullptr, nullptr};
      it.current = PackagedNameTable.Next(&it.bucket, &it.next);
      while (it.current) {
        takenReferences_->insert(reinterpret_cast<const char*>(it.Value()));
        it.current = PackagedNameTable.Next(&it.bucket, &it.next);
      }
    }
    return *takenReferences_;
  }

  // A UDIM name resolves to one of its tiles. Written as that tile, it would
  // make every tile render the same image; so when all the tiles kept their
  // names side by side in the package, the pattern is written instead.
  // Empty when the text is no UDIM name, its tiles were renamed apart, or the
  // pattern would also take in a tile of another set that has its name.
  std::string UdimReference(const std::string& text, const std::string& tile,
                            const std::string& tileReference) {
    size_t marker = text.find(kUdim);
    if (marker == std::string::npos || tile.size() != text.size() ||
        tile.compare(0, marker, text, 0, marker) != 0 ||
        tile.compare(marker + 4, std::string::npos, text, marker + 4) != 0)
      return std::string();
    size_t tail = tile.size() - marker;  // bytes from the tile number to the end
    if (tileReference.size() < tail + sizeof kPackageDirPrefix - 1 ||
        tileReference.compare(tileReference.size() - tail, tail, tile, marker) != 0)
      return std::string();
    std::string pattern = tileReference;
    pattern.replace(pattern.size() - tail, 4, kUdim);
    for (int number = 1001; number <= 1999; ++number) {
      std::string digits = std::to_string(number);
      std::string path = text;
      path.replace(marker, 4, digits);
      std::string reference = PackagedReference(path);
      std::string expected = pattern;
      expected.replace(expected.size() - tail, 4, digits);
      if (reference.empty() ? TakenReferences().count(expected) != 0 : reference != expected)
        return std::string();
    }
    return pattern;
  }

  static constexpr char kUdim[] = "UDIM";

  DependencyTracker& tracker_;
  const ZpHashTable& changedPaths_;
  const ToolOptions& options_;
  std::unique_ptr<std::unordered_set<std::string>> takenReferences_;
};

std::string Destination(const char* name, const ToolOptions& options) {
  std::string file = PackagedName(name);
  if (file.empty()) file = SplitRelativePath(options, name);
  return options.packageDir.empty() ? file : options.packageDir + "/" + file;
}

ZpHashTable* ChangedPaths(DependencyTracker& tracker, const ToolOptions& options) {
  auto* changed = new ZpHashTable(32, 0.75f);
  if (options.verbose) std::puts("\n#Changing path or name for:\n");
  ListChangedFiles(Output, tracker, options.verbose, *changed);
  if (options.package) {
    for (DependencyKind kind : {Shader, Texture, Stream, Procedural})
      ListChangedFiles(kind, tracker, options.verbose, *changed);
  }
  ZpHashTable::Iterator it = {&tracker.packagePathValues, 0, nullptr, nullptr};
  it.current = tracker.packagePathValues.Next(&it.bucket, &it.next);
  while (it.current) {
    Enter(*changed, it.Key(), it.KeyLength());
    it.current = tracker.packagePathValues.Next(&it.bucket, &it.next);
  }
  return changed;
}

// How a vornex child ended, from a ZpWaitProcess code (-1: never started).
std::string VornexFailure(int status) {
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

// The writing side: the destination file, or with -binary the "vornex"
// command that writes it in the binary encoding.
class StreamOutput {
 public:
  StreamOutput(const std::string& destination, bool binary) : destination_(destination) {
    if (binary) {
      std::string command = "vornex -cat -q -binary -gzip > " + ZpShellQuote(destination.c_str());
      // A writing command that dies early must not take tracwell with it:
      // its broken pipe shows as a failed write and a failed close instead.
      struct sigaction ignore = {};
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGPIPE, &ignore, &savedPipeAction_);
      file_ = ZpOpenPipe(command.c_str(), "wb");
      pipe_ = file_ != nullptr;
      if (!pipe_) sigaction(SIGPIPE, &savedPipeAction_, nullptr);
    }
    if (!file_) file_ = std::fopen(destination.c_str(), "wb");
    if (!file_) std::fprintf(stderr, "#Cannot write or create file '%s'\n", destination.c_str());
  }

  FILE* file() const { return file_; }

  // Closes the output; false, with a message, when a write or the writing
  // command failed (a full disk, say), so that no cut-off stream passes.
  bool Close() {
    bool writeFailed = std::ferror(file_) != 0;
    int status = 0;
    if (pipe_) {
      status = ZpClosePipe(file_);
      sigaction(SIGPIPE, &savedPipeAction_, nullptr);
    } else {
      writeFailed = std::fclose(file_) != 0 || writeFailed;
    }
    if (status != 0)
      std::fprintf(stderr, "\n#Could not write '%s' through vornex (%s)\n\n",
                   destination_.c_str(), CommandFailure(status).c_str());
    else if (writeFailed)
      std::fprintf(stderr, "\n#Could not write '%s'\n\n", destination_.c_str());
    return status == 0 && !writeFailed;
  }

 private:
  std::string destination_;
  FILE* file_ = nullptr;
  bool pipe_ = false;
  struct sigaction savedPipeAction_ = {};
};

// Rewrites the stream file itself, without "vornex"; only sound for a plain
// ASCII stream.
void RewriteFromFile(DependencyTracker& tracker, const char* name, const std::string& destination,
                     const ZpHashTable& changedPaths, const ToolOptions& options) {
  FILE* in = std::fopen(name, "rb");
  if (!in) return;
  StreamOutput out(destination, options.binary);
  if (out.file()) {
    RewriteStrings(in, out.file(), tracker, changedPaths, options);
    if (!out.Close()) ZpRemoveFile(destination.c_str());
  }
  std::fclose(in);
}

// "vornex" could not deliver the stream: says so, and rewrites the file
// itself when it is plain ASCII, else leaves the stream out rather than
// writing a stream that silently lacks content.
void RecoverFromVornex(DependencyTracker& tracker, const char* name,
                       const std::string& destination, const ZpHashTable& changedPaths,
                       const ToolOptions& options, int status) {
  bool plain = IsPlainAsciiStream(name);
  std::fprintf(stderr, "\n#Could not read '%s' through vornex (%s): %s\n\n", name,
               VornexFailure(status).c_str(),
               plain ? "rewriting it as plain text" : "left out of the package");
  if (plain)
    RewriteFromFile(tracker, name, destination, changedPaths, options);
  else
    ZpRemoveFile(destination.c_str());
}

void RewriteThroughVornex(DependencyTracker& tracker, const char* name,
                          const std::string& destination, const ZpHashTable& changedPaths,
                          const ToolOptions& options) {
  const char* const args[] = {"-cat", "-noheader", "-q", name, nullptr};
  FILE* in = nullptr;
  int64_t pid = ZpSpawnProcess(nullptr, &in, nullptr, false, "vornex", args);
  if (pid == 0 || !in)
    return RecoverFromVornex(tracker, name, destination, changedPaths, options, -1);
  StreamOutput out(destination, options.binary);
  if (!out.file()) {
    std::fclose(in);
    ZpWaitProcess(int(pid));
    return;
  }
  RewriteStrings(in, out.file(), tracker, changedPaths, options);
  std::fclose(in);
  int status = ZpWaitProcess(int(pid));
  bool written = out.Close();
  if (status != 0)
    RecoverFromVornex(tracker, name, destination, changedPaths, options, status);
  else if (!written)
    ZpRemoveFile(destination.c_str());
}

}  // namespace

void RewriteStrings(FILE* in, FILE* out, DependencyTracker& tracker,
                    const ZpHashTable& changedPaths, const ToolOptions& options) {
  StringRewriter rewriter(tracker, changedPaths, options);
  bool inString = false;
  std::string buffer;
  int c;
  while ((c = std::getc(in)) != EOF) {
    if (!inString) {
      std::fputc(c, out);
      if (c == '"') {
        inString = true;
        buffer.clear();
      }
    } else if (c == '"') {
      rewriter.Write(buffer, out);
      std::fputc('"', out);
      inString = false;
    } else {
      buffer += char(c);
      if (c != '\\') continue;
      int next = std::getc(in);
      if (next != EOF) buffer += char(next);
    }
  }
  // A stream cut inside a string keeps its last bytes as they were.
  if (inString) WriteRaw(buffer, out);
}

void RewriteStream(DependencyTracker& tracker, const char* name, const ToolOptions& options) {
  std::string destination = Destination(name, options);
  ZpHashTable* changedPaths = ChangedPaths(tracker, options);
  if (MayWritePackageFile(name, destination)) {
    if (changedPaths->count == 0) {
      if (!ZpCopyFile(name, destination.c_str()))
        std::fprintf(stderr, "\n#Could not copy '%s' as '%s'\n\n", name, destination.c_str());
    } else {
      RewriteThroughVornex(tracker, name, destination, *changedPaths, options);
    }
  }
  delete changedPaths;
}

bool IsPlainAsciiStream(const char* path) {
  FILE* in = std::fopen(path, "rb");
  if (!in) return false;
  int first = std::getc(in);
  int second = std::getc(in);
  bool plain = !(first == 0x1F && second == 0x8B);
  std::rewind(in);
  bool inString = false, inComment = false;
  int c;
  while (plain && (c = std::getc(in)) != EOF) {
    if (inComment) {
      inComment = c != '\n' && c != '\r';
    } else if (inString) {
      if (c == '\\') std::getc(in);
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '#') {
      inComment = true;
    } else {
      plain = c < 0x80;
    }
  }
  std::fclose(in);
  return plain;
}
