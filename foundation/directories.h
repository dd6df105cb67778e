// Directory test, one-level walk and creation.
#pragma once

// Called once per entry by ZpWalkDirectory. fullPath is the walked directory,
// "/" and the entry name; the return value is ignored.
typedef void (*ZpWalkCallback)(const char* fullPath, const char* name, void* user);

// Whether lstat() of `path` has the directory bit (0x4000) in its mode.
// Links are not followed; block devices and sockets share the bit and count.
// False when the path cannot be examined.
bool ZpIsDirectory(const char* path);

// With `subdirectories` false: calls `callback` for every entry of
// `directory` but "." and "..", in readdir order. With it true: calls it for
// the entries of each immediate subdirectory instead (not for those of
// `directory` itself, and nothing deeper). False when a directory could not
// be opened; the other subdirectories are still walked.
bool ZpWalkDirectory(const char* directory, ZpWalkCallback callback, void* user,
                     bool subdirectories);

// Creates the last component of `path` with mode 0777 filtered by the umask,
// as any other program makes directories (never world-writable against the
// user's wish, never set-id or sticky). False when it exists already or
// cannot be made.
bool ZpMakeDirectory(const char* path);
