// Writes one scene stream into the package: copied byte for byte when none of
// its references change, else read back as ASCII through "vornex" with every
// changed reference replaced by its packaged form.
#pragma once

#include <cstdio>
#include <string>

#include "hash_table.h"

class DependencyTracker;
struct ToolOptions;

// Writes the stream at name (an input stream, or a nested stream whose
// references tracker recorded) to its place in options.packageDir.
// producedNames holds the names that one input stream renders and another
// reads as a texture. Reports failures on standard error and goes on;
// prints its notes with options.verbose. Never writes over the stream
// itself, and never leaves an empty or cut-off stream behind when "vornex"
// fails.
void RewriteStream(DependencyTracker& tracker, const char* name, const ToolOptions& options,
                   const ZpHashTable& producedNames);

// What rewriting the strings of one stream needs to know.
struct StringRewriteSettings {
  DependencyTracker& tracker;
  const ZpHashTable& changedPaths;
  const ToolOptions& options;
  const ZpHashTable& producedNames;
  std::string streamName;  // as the tracker read it: "${RIBDIR}" is its folder
  int depth;               // folders between the package directory and the stream
};

// The string-by-string copy: every byte outside quoted strings is written as
// read, comments included; a quoted string that names a path of changedPaths
// is replaced by its packaged reference as seen from the stream's folder
// (".oso" left off), a UDIM name by its packaged pattern, an output image or
// a texture another stream renders by its relative name, and any other
// changed path by its relative name.
void RewriteStrings(FILE* in, FILE* out, const StringRewriteSettings& settings);

// Whether a stream is ASCII text, and so can be rewritten without "vornex":
// plain, gzip-compressed, or neither (binary tokens, or unreadable).
enum class AsciiForm { Plain, Gzip, None };
AsciiForm AsciiFormOf(const char* path);
// AsciiFormOf(path) == AsciiForm::Plain.
bool IsPlainAsciiStream(const char* path);
// True when the file begins with the gzip magic.
bool IsGzipFile(const char* path);

// A gzip file as a stdio stream: mode "rb" reads it (a file that is no gzip
// stream as it stands), "wb" writes it compressed, created or truncated.
// Null when it cannot be opened.
FILE* OpenGzipFile(const std::string& path, const char* mode);
// The same over an open descriptor, which the stream owns from then on
// (closed with it, or at once when null is returned).
FILE* OpenGzipDescriptor(int fd, const char* mode);

// The name under which a stream is written into the package: its packaged
// name, else its relative name.
std::string PackagedFileName(const char* name, const ToolOptions& options);

// path as a word for another program: "./-name" for a name that begins with
// "-", which the program would take for an option.
std::string ProgramArgument(const std::string& path);

// True when a "vornex" that can be run lies in a folder of PATH.
bool VornexIsOnPath();

// False for a stream of tracker that will have to be rewritten and cannot
// be: "vornex" is not on PATH and the stream is no ASCII text. Such a stream
// is left out of the package, and no packaged reference names it.
bool StreamCanBeWritten(DependencyTracker& tracker, const std::string& path,
                        const ToolOptions& options);

// The number of folders in a packaged name ("seq/shot.rib": 1), "." steps
// and empty steps not counted.
int FolderDepth(const std::string& packagedName);
