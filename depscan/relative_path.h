// The relative name of a dependency: the name it has inside a package and by
// which the conflict report groups paths.
#pragma once

#include <string>
#include <string_view>

struct ToolOptions;

// The part of path below the first "-r" root that is a prefix of it, with
// leading separators dropped (a lone separator stays); otherwise the text after
// the last separator. Below a root, "." steps, repeated separators and sound
// ".." steps do not count: "/r/./a//b.tx" is "a/b.tx" below /r. "/" and "\" both separate; a path without any separator
// is its own relative name.
std::string SplitRelativePath(const ToolOptions& options, const std::string& path);

// path with "." steps and repeated "/" dropped, and each ".." taken back
// with the step before it unless that is a symbolic link (the ".." would
// then lead elsewhere). Relative paths stay relative.
std::string LexicallyNormalPath(const std::string& path);

// True when path is in the form LexicallyNormalPath gives (a trailing "/"
// aside): no "." step, no empty step and no ".." step. Costs no system call.
bool IsLexicallyNormal(std::string_view path);

// The spelling under which the tracker records a file name: its lexically
// normal form, with a trailing "/" kept ("a.tif/" names no file, and must
// not come to name one).
std::string RecordedSpelling(std::string_view path);
