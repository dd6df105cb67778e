// Stand-in for the renderer's command-line program, built for the tests only.
//
//   vornex -cat [-noheader] [-q] [-binary] [-gzip] [PATH]
//
// Reads the scene stream at PATH (standard input without one) in any encoding
// through the project's reader and writes it to standard output: in the ASCII
// encoding, or with -binary in the binary one; -gzip compresses the output.
// Exits 1 when PATH cannot be opened, 2 after a fatal reader error.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "path_strings.h"
#include "rib_scanner.h"
#include "rib_source.h"
#include "stream_writers.h"

namespace {

struct Settings {
  bool quiet = false;
  bool binary = false;
  bool gzip = false;
  const char* path = nullptr;
};

bool ParseArguments(int argc, char** argv, Settings* settings) {
  bool cat = false;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (std::strcmp(word, "-cat") == 0) cat = true;
    else if (std::strcmp(word, "-noheader") == 0) continue;
    else if (std::strcmp(word, "-q") == 0) settings->quiet = true;
    else if (std::strcmp(word, "-binary") == 0) settings->binary = true;
    else if (std::strcmp(word, "-gzip") == 0) settings->gzip = true;
    else if (word[0] == '-' || settings->path) return false;
    else settings->path = word;
  }
  return cat;
}

void ReportDiagnostic(void* user, int, const char* message) {
  if (!static_cast<Settings*>(user)->quiet) std::fprintf(stderr, "vornex: %s\n", message);
}

void Copy(RibScanner& scanner, TokenWriter& writer) {
  for (int token = scanner.NextToken(); token != RibToken::End; token = scanner.NextToken()) {
    switch (token) {
      case RibToken::ArrayBegin: writer.Bracket('['); break;
      case RibToken::ArrayEnd: writer.Bracket(']'); break;
      case RibToken::String: writer.String(scanner.stringValue()); break;
      case RibToken::Integer: writer.Integer(scanner.intValue()); break;
      case RibToken::Float: writer.Float(scanner.floatValue()); break;
      default: writer.Request(token);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArguments(argc, argv, &settings)) {
    std::fputs("usage: vornex -cat [-noheader] [-q] [-binary] [-gzip] [PATH]\n", stderr);
    return 2;
  }
  RibSource* source = new RibFromFD(0);
  if (settings.path) {
    auto* file = new RibFromFile(settings.path);
    if (!file->IsOpen()) {
      std::fprintf(stderr, "vornex: cannot open '%s'\n", settings.path);
      delete file;
      delete source;
      return 1;
    }
    delete source;
    source = file;
  }
  // A file's "${RIBDIR}" and "${VRXDIR}" references resolve against its own
  // directory, made absolute against the working directory as tracwell makes
  // file names. Standard input has no directory: it is named inside
  // "${VRXDIR}" so that those references are written back as they came and
  // stay relative to wherever the output is read next.
  std::string name = "${VRXDIR}/stdin";
  if (settings.path) name = settings.path[0] == '/' ? settings.path
                                                    : ZpCurrentDirectory() + "/" + settings.path;
  RibScanner scanner(source, name.c_str(), nullptr, ReportDiagnostic, &settings);
  ByteSink sink(settings.gzip);
  std::unique_ptr<TokenWriter> writer;
  if (settings.binary)
    writer.reset(new BinaryWriter(sink));
  else
    writer.reset(new AsciiWriter(sink));
  Copy(scanner, *writer);
  if (!settings.binary) sink.Write("\n", 1);
  return sink.Close() ? 0 : 1;
}
