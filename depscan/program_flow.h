// The whole run of tracwell, from start-up to clean-up; main only calls it.
#pragma once

#include <cstdarg>

// The usage text printed for "-h" and "--help", 36 lines.
extern const char kTracwellUsage[];

// Runs tracwell on the argument vector and returns its exit status: 0 after a
// normal run (also when streams had errors or the shot lacks files), 1 when
// an input word could not be read, when the package is incomplete (see
// run_status.h), when the package directory can neither be found nor made
// or holds a source of the package, or when standard input would have to be
// packaged.
int RunTracwell(int argc, char** argv);

// Given to libtiff for errors and warnings: libtiff never prints.
void SilentTiffHandler(const char* module, const char* format, va_list arguments);
