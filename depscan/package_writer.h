// Writing files into a package folder so that a package never holds a cut
// file under its final name and nothing is written outside the folder that
// was checked.
//
// - The package folder is opened once (PackageDirectory::OpenPackage) and
//   every file is made relative to that descriptor: a folder renamed away
//   and replaced by a link while the run goes on still receives the files,
//   and the link's target receives nothing. Sub-folders are opened from it
//   one step at a time, never through a symbolic link (OpenSubfolder).
// - A file is written under a temporary name in its destination folder
//   (PackageFile::Create), and renamed to its name only when whole
//   (Commit). A failed write, a failed commit, Abort, destruction without
//   Commit and an interruption (SIGINT, SIGTERM, SIGQUIT; see
//   interruption.h) remove the temporary file; whatever had the final name
//   stays as it was until the commit replaces it. A symbolic link at the
//   final name is replaced, never followed.
// - SIGXFSZ is ignored from the first OpenPackage on, so that a file-size
//   limit (ulimit -f) is a write error (EFBIG) instead of a silent end.
// - The package folder is locked (flock on its descriptor) while a
//   PackageDirectory from OpenPackage lives: a second run into the same
//   folder waits until the first has finished, saying so once on standard
//   error, so that every packaged file is whole and from one run.
// - CopyIntoPackage copies only regular files; the source is opened without
//   waiting (O_NONBLOCK), so a FIFO or a device named as a dependency never
//   blocks the run, and a regular file that would block ends in a read error.
//
// How packaging uses it: open the folder once per run,
//
//   std::string error;
//   auto package = PackageDirectory::OpenPackage(options.packageDir, &error);
//
// then, for a packaged name "sub/dir/a.tif", get its folder and leaf,
//
//   std::string leaf;
//   auto folder = package->FolderFor("sub/dir/a.tif", &leaf, &error);
//
// and either copy a dependency (CopyIntoPackage(source, *folder, leaf,
// &error)) or write a stream (PackageFile::Create(*folder, leaf, &error),
// Write..., Commit()). Every false or null result leaves `error` with a text
// for the message ("#Could not copy '%s' as '%s'" and its neighbours) and
// means the package is incomplete. A writer that wants stdio (a rewritten
// stream) writes to Stream() instead of Write. A program run on a file
// (texmeld, the vornex of -binary) writes to TemporaryPath() of a
// PackageFile made for the purpose, which is then committed or aborted like
// any other.
//
// Objects must not outlive the PackageDirectory they were made from.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

class PackageDirectory {
 public:
  // Opens the package folder and locks it (waiting, with one note on
  // standard error, while another run holds it). Null, with `error`, when it
  // cannot be opened as a folder.
  static std::unique_ptr<PackageDirectory> OpenPackage(const std::string& path,
                                                       std::string* error);
  ~PackageDirectory();
  PackageDirectory(const PackageDirectory&) = delete;
  PackageDirectory& operator=(const PackageDirectory&) = delete;

  // The folder `relative` below this one ("" or "." is this one again),
  // opened step by step without following a symbolic link and without
  // climbing out (".." refused). Null, with `error`, when a step is missing,
  // a link or no folder.
  std::unique_ptr<PackageDirectory> OpenSubfolder(const std::string& relative,
                                                  std::string* error) const;

  // For a packaged name: the folder that holds it (OpenSubfolder of its
  // folder part) and, in *leaf, its last step.
  std::unique_ptr<PackageDirectory> FolderFor(const std::string& name, std::string* leaf,
                                              std::string* error) const;

  int fd() const { return fd_; }
  // The path it was opened by, for messages.
  const std::string& path() const { return path_; }
  // A path that leads to this folder for as long as it is open, whatever
  // happens to its name meanwhile (/proc/<pid>/fd/<n>, which this process
  // and its children can follow), for reading it back or for programs that
  // need a path; path() where /proc cannot be used.
  std::string OpenedPath() const;

 private:
  PackageDirectory(int fd, std::string path, bool locked);
  int fd_;
  std::string path_;
  bool locked_;
};

class PackageFile {
 public:
  // Makes a new, empty temporary file in `folder`, registered for removal on
  // an interruption. Null, with `error`, when it cannot be made. `name` is
  // the final name (one step, no "/"); the temporary name ends in its
  // extension, for programs that tell the kind of file by it.
  static std::unique_ptr<PackageFile> Create(const PackageDirectory& folder,
                                             const std::string& name, std::string* error);
  // Removes the temporary file unless it was committed.
  ~PackageFile();
  PackageFile(const PackageFile&) = delete;
  PackageFile& operator=(const PackageFile&) = delete;

  // Writes all of it (short writes continued); false, with error(), on a
  // failure, after which only Abort or destruction is left.
  bool Write(const void* data, size_t size);
  // A stdio stream over the file, owned by this object (not to be closed by
  // the caller); null, with error(), when none can be made. Commit flushes
  // it and fails when any write to it failed.
  FILE* Stream();
  // Closes the file and renames it to its name, replacing what was there;
  // false, with error(), and the temporary file removed, on a failure.
  // `mode` bits 0111 are added to the file's mode (the source's execute
  // bits, as a copy keeps them).
  bool Commit(mode_t executeBits = 0);
  // Removes the temporary file.
  void Abort();

  int fd() const { return fd_; }
  // True when the temporary name holds a regular file with something in it,
  // as a program that writes it (TemporaryPath) may have left it.
  bool HoldsContent() const;
  // The temporary file's path, for a program that writes the file itself:
  // through this process's descriptor of the folder (/proc/<pid>/fd/<n>/),
  // so that a folder renamed away and replaced by a link meanwhile still
  // receives it; through the folder's path only where /proc cannot be used.
  // The program may write the file in place or replace it.
  std::string TemporaryPath() const;
  const std::string& error() const { return error_; }

 private:
  PackageFile(const PackageDirectory& folder, std::string name, std::string temporary, int fd,
              int ticket);
  void Fail(const char* what);
  const PackageDirectory& folder_;
  std::string name_;
  std::string temporary_;
  int fd_;
  int ticket_;
  FILE* stream_ = nullptr;
  bool done_ = false;
  std::string error_;
};

enum class CopyResult {
  kCopied,
  kNotRegular,  // the source is no regular file (or has nothing to read)
  kCannotRead,
  kCannotWrite,
};

// Copies the regular file `source` to `name` in `folder` through a
// PackageFile, adding the source's execute bits. On anything but kCopied
// `error` holds the reason and nothing has changed in the folder.
CopyResult CopyIntoPackage(const char* source, const PackageDirectory& folder,
                           const std::string& name, std::string* error);
