// Process environment, user, command line and small string helpers.
// Nothing prints; failure shows in the result.
#pragma once

#include <string>
#include <vector>

// The system's text for the calling thread's last error (strerror(errno)).
// Owned by the system; never free it.
const char* ZpLastErrorText();

// The value of ZEPHRIN (the product's installation directory), or null.
const char* ZpInstallDirFromEnvironment();

// getenv(name).
const char* ZpGetEnv(const char* name);

// Sets `name` to `value`, replacing an existing value. False when refused.
bool ZpSetEnv(const char* name, const char* value);

// Removes `name`; false for a null name or when the system refuses.
bool ZpUnsetEnv(const char* name);

// Every "NAME=value" entry of the environment, in the environment's order.
std::vector<std::string> ZpEnvironment();

// A new heap string (release with free) with each "${NAME}" of a set variable
// replaced by its value; values are not scanned again. Unset names, names of
// 128 characters or more and unclosed references stay as written. Null when
// nothing was replaced (also for an empty text).
char* ZpExpandEnvironment(const char* text);

// strsep: splits off the field at *cursor up to the first character of
// `delimiters`, which is overwritten with NUL; *cursor moves past it, or
// becomes null after the last field. Null once *cursor is null.
char* ZpNextToken(char** cursor, const char* delimiters);

// Login name of the real user, or "" when the password database has none.
std::string ZpUserName();

// Decodes "%hh" escapes in place; a "%" without two hex digits stays.
void ZpPercentDecode(char* text);

// The process's arguments from /proc/self/cmdline; left empty on any problem.
void ZpCommandLine(std::vector<std::string>& out);
// The same from a file of that form (NUL-terminated arguments), such as
// another process's /proc/PID/cmdline: empty when it cannot be read, holds
// fewer than 2 bytes or does not end in a NUL.
void ZpReadCommandLine(const char* path, std::vector<std::string>& out);
