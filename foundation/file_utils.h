// Single-file services: existence and access tests, sizes and times,
// file-system facts, copying, moving, removing, temporary files.
// Nothing prints; failure shows in the result and errno. Paths go to the
// system as given; "stat" follows symbolic links.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Bytes available to unprivileged users on the file system of `path`; 0 on failure.
uint64_t ZpFreeDiskSpace(const char* path);

// Size, access time and modification time (seconds since the epoch); 0 on failure.
int64_t ZpFileSize(const char* path);
int64_t ZpFileAccessTime(const char* path);
int64_t ZpFileModificationTime(const char* path);

// Sets access and modification time to now; an absent file is not created.
bool ZpTouchFile(const char* path);

// access() tests; a dangling link does not exist.
bool ZpFileExists(const char* path);
bool ZpFileReadable(const char* path);
bool ZpFileWritable(const char* path);

// The file-system magic (statfs f_type) of `path`; 0 on failure.
int64_t ZpFileSystemType(const char* path);

// Writes the short name of the file-system type of `path` ("ext2", "nfs",
// "xfs", ...) into `name`, which holds at least 8 bytes; "" when unknown.
void ZpFileSystemName(const char* path, char* name);

// Whether `path` lies on tmpfs or ramfs.
bool ZpIsMemoryFileSystem(const std::string& path);

// Copies the contents of `source` over `destination` (created 0666 less the
// umask when absent) and adds the source's execute bits to the destination's
// mode. Refuses, touching nothing, when both name the same file. False on
// any failure; a partly written destination is left as it is.
bool ZpCopyFile(const char* source, const char* destination);

// unlink(path) == 0.
bool ZpRemoveFile(const char* path);

// Moves by rename, link + unlink, or copy + unlink, whichever works first.
// With `replace` false an existing destination is never touched. Equal
// names succeed at once.
bool ZpMoveFile(const char* source, const char* destination, bool replace);

// isatty(fd) != 0.
bool ZpIsTerminal(int fd);

// Soft limit on open descriptors (low 32 bits); 0 when it cannot be read.
uint32_t ZpMaxOpenFiles();

// An open, already-unlinked temporary file for reading and writing, made in
// $ZP_TMPDIR, $TMPDIR, /tmp or "." (the first that works); null on failure.
FILE* ZpTemporaryFile();

// Creates an empty file "<dir>/<prefix>XXXXXX" with unique letters in the
// same directories and returns its name (release with free); null on failure.
char* ZpTemporaryFileName(const char* prefix);

// fclose(file); EOF on failure or for a null file.
int ZpCloseFile(FILE* file);

// Absolute path with every link, "." and ".." resolved; the file must exist.
// "" when it cannot be resolved (also for an empty path).
std::string ZpRealPath(const std::string& path);
